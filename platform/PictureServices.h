// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

#include <QString>

#include <memory>
#include <optional>

// The multi-select file-open dialog. Settings are made before every use.
class FileOpenDialog {
public:
    // Dialog flags the commands pass: hide read-only box, several files,
    // explorer style, shortcuts not followed.
    static constexpr int kMultiSelectFlags = 0x180204;

    virtual ~FileOpenDialog() = default;
    virtual void setCancelError(bool cancelError) = 0;
    virtual void setFlags(int flags) = 0;
    // "description|pattern;pattern;..."
    virtual void setFilter(const QString& filter) = 0;
    // Modal. With CancelError set, a cancel throws PlatformError(Cancelled).
    virtual void ShowOpen() = 0;
    // One full path for a single file; for several, the directory and then each
    // name, separated by NUL characters, with no trailing separator.
    virtual QString FileName() const = 0;
};

// A picture encoded for its target file but not yet in place. Destroying it
// uncommitted leaves the target as it was and removes what was written.
class PreparedPicture {
public:
    virtual ~PreparedPicture() = default;
    // Puts the file in place, replacing an existing one. Throws CannotWrite.
    virtual void commit() = 0;
};

// The indicator of a running batch. It appears once the batch has taken half a
// second, is modal, and offers to cancel. Destroying it closes it.
class BatchProgress {
public:
    virtual ~BatchProgress() = default;
    virtual void setProgress(int doneRows, int totalRows) = 0;
    virtual bool wasCancelled() const = 0;
    // Whether the indicator is on screen, so the user can reach its button.
    virtual bool isShown() const = 0;
};

// Everything the tool takes from its platform apart from the controls.
// Failures throw PlatformError. LoadPicture, preparePicture and previewOf may
// be called from worker threads; everything else runs on the event thread.
class PictureServices {
public:
    virtual ~PictureServices() = default;

    // An empty file name gives the empty picture (nullptr).
    virtual PictureObject LoadPicture(const QString& fileName) = 0;
    // Writes the picture in the format the file name's extension names,
    // replacing an existing file only once the new one is complete.
    virtual void SavePicture(const PictureObject& picture, const QString& fileName) = 0;

    // The work of SavePicture short of putting the file in place.
    virtual std::unique_ptr<PreparedPicture> preparePicture(const PictureObject& picture,
                                                            const QString& fileName) = 0;

    // A picture for the preview box: possibly a smaller decode. A picture
    // handed over with rememberPreview for this file is returned as it is.
    virtual PictureObject loadPreview(const QString& fileName) = 0;
    // A decoded picture made small enough for the preview box.
    virtual PictureObject previewOf(const PictureObject& picture) = 0;
    // Keeps a preview the batch made from its own decode, so that showing the
    // row does not decode the file again.
    virtual void rememberPreview(const QString& fileName, const PictureObject& preview) = 0;

    virtual std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) = 0;

    virtual FileOpenDialog& CommonDialog1() = 0;

    // A folder chooser owned by the window; nullopt when the user cancels.
    virtual std::optional<QString> browseForFolder(const QString& prompt) = 0;

    // Opens a folder in the desktop's file manager without waiting for it.
    // Throws PlatformError(CannotStart) when that is not possible.
    virtual void openFolder(const QString& folder) = 0;

    // Modal message with the information icon and one OK button.
    virtual void ShowMessage(const QString& prompt, const QString& title) = 0;
};
