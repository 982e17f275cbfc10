// SPDX-License-Identifier: MIT
// Reading picture files: only regular files, never waiting on one, within our
// size limit.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Opens the file for reading. A FIFO or device in the file's place is refused
// once open, so a pipe swapped in after any check cannot hold the caller.
// Throws PlatformError: FileMissing, CannotRead or NotAPicture.
void openPictureFile(QFile& file, const QString& fileName);

// The whole file. Throws PlatformError: FileMissing, CannotRead, NotAPicture
// (also for an empty file) or PictureTooLarge.
QByteArray readPictureBytes(const QString& fileName);
