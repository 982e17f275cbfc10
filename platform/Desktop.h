// SPDX-License-Identifier: MIT
#pragma once

#include "PlatformError.h"

#include <QString>

#include <functional>
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
    virtual void showOpen() = 0;
    // One full path for a single file; for several, the directory and then each
    // name, separated by NUL characters, with no trailing separator.
    virtual QString fileName() const = 0;
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

enum class MessageIcon { Information, Warning };

// What the window takes from the desktop: dialogs, the message box, the
// progress indicator and the file manager. Everything runs on the event
// thread; failures throw PlatformError.
class Desktop {
public:
    virtual ~Desktop() = default;

    virtual FileOpenDialog& fileOpenDialog() = 0;
    // A folder chooser owned by the window; nullopt when the user cancels, an
    // empty text when the chosen item has no file-system path.
    virtual std::optional<QString> browseForFolder(const QString& prompt) = 0;
    // Opens a folder in the file manager without waiting for it. Throws
    // PlatformError(CannotStart) when nothing can be started; when the file
    // manager gives up later, onLateFailure runs on the event thread with
    // what it said.
    virtual void openFolder(const QString& folder,
                            std::function<void(const PlatformError&)> onLateFailure) = 0;
    // Modal, with one OK button.
    virtual void showMessage(const QString& text, const QString& title, MessageIcon icon) = 0;
    virtual std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) = 0;
};
