// SPDX-License-Identifier: MIT
// The benchmark's metadata section: what a JPG and a PNG output keep of a
// camera photo's EXIF, from Velmora and from mogrify side by side.
#pragma once

#include <QString>
#include <QStringList>

// Makes a camera photo from `photo` (EXIF with make, model, date taken, a GPS
// position, orientation 6 and a thumbnail), converts it to JPG and PNG with
// Velmora's codec and with `mogrify -auto-orient`, and reads the outputs with
// exiftool. Returns the report's Markdown lines; a note when exiftool is
// missing or a conversion fails.
QStringList metadataReport(const QString& photo, const QString& workFolder, const QString& mogrify);

// The note under the table on the JPG row: its time against the target of a
// tenth of mogrify's and against the decode+encode floor.
QString jpegTargetNote(double velmora, double mogrify, double floor);
