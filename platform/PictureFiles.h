// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

#include <QString>

#include <memory>

// Reads a picture file into an upright, sRGB, single-frame picture.
// Throws PlatformError: FileMissing, CannotRead, NotAPicture or PictureTooLarge.
PictureObject loadPictureFile(const QString& fileName);

// Writes the picture in the format the file name's extension names. The file
// appears only once complete; on failure an existing file stays as it was.
// Throws PlatformError(CannotWrite).
void savePictureFile(const Picture& picture, const QString& fileName);

// A smaller decode for showing in a box of the given size, where the format
// allows one (JPEG); otherwise the whole picture. Upright like loadPictureFile.
PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight);

// A picture already encoded for its target but not yet in place. Destroying it
// without commit() leaves the target as it was.
class PreparedPictureFile {
public:
    virtual ~PreparedPictureFile() = default;
    // Puts the file in place, replacing an existing one. Throws
    // PlatformError(CannotWrite).
    virtual void commit() = 0;
};

// Encodes the picture for fileName (the work of savePictureFile, short of
// putting the file in place). Safe to call from several threads at once.
std::unique_ptr<PreparedPictureFile> preparePictureFile(const Picture& picture,
                                                        const QString& fileName);
