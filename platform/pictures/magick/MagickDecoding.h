// SPDX-License-Identifier: MIT
// Reading pictures through ImageMagick: the general path, for every format
// we read.
#pragma once

#include "Picture.h"
#include "input/PictureSniffing.h"

#include <QByteArray>
#include <QString>

#include <stop_token>

// Decodes the bytes as the format their header names (see recognise)
// into an upright, sRGB (or gray), single-frame picture: the first frame of an
// animation or a multi-page file, the merged picture of a PSD, the largest
// image of an icon. Throws PlatformError: NotAPicture, PictureTooLarge, or
// Cancelled once `stop` is requested.
Picture decodeWithMagick(const QByteArray& bytes, const SourceHeader& header,
                         const QString& fileName, const std::stop_token& stop);

// ImageMagick's estimate of a JPEG's quality (1..100), from its quantisation
// tables. Reading the header only is cheap, and gives exactly the figure a
// full decode reports.
int magickJpegQuality(const QByteArray& bytes, const QString& fileName);

// The colour profile ImageMagick keeps for the source, read from its headers
// only: for a PNG, its iCCP profile unless it is one of the common sRGB
// profiles, which ImageMagick drops. Empty when it keeps none.
QByteArray magickColourProfile(const QByteArray& bytes, SourceFormat format,
                               const QString& fileName);
