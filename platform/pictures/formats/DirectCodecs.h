// SPDX-License-Identifier: MIT
#pragma once
// Direct encoders and decoders for the common formats, beside ImageMagick's
// general path (MagickDecoding, MagickEncoding). Each codec library is included by its
// own file only. None of these functions touch files or shared state, so they
// may run on several threads at once.

#include "Picture.h"
#include "PlatformError.h"
#include "structures/FileBytes.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>

namespace directcodec {

// The data is broken: the codec gave up on it.
class CodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Called with the declared width and height before any pixel memory is taken;
// throws to refuse the picture.
using SizeCheck = std::function<void(qint64 width, qint64 height)>;

// Decodes an 8-bit gray, YCbCr or RGB JPEG, baseline or progressive, with its
// EXIF orientation applied and its colour profile kept. With a box (both sides
// > 0) the smallest libjpeg scale (1/1 .. 1/8) whose upright result still
// covers the box is used. Returns nothing for a JPEG it leaves to the general
// path (CMYK, YCCK, 12-bit samples). Throws CodecError on broken data.
// jpegQuality is left 0: the caller estimates it; the sampling is noted.
// The long encoders and decoders check `stop` between rows and throw
// PlatformError(Cancelled) once it is requested. `warnings`, when given, is
// set to the number of damaged-data warnings the decoder passed over.
std::optional<Picture> decodeJpeg(const QByteArray& bytes, const SizeCheck& check, int boxWidth = 0,
                                  int boxHeight = 0, std::stop_token stop = {},
                                  long* warnings = nullptr);

// Decodes a PNG into the picture the general path gives for it: RGBA when it
// has alpha or a tRNS chunk, else gray or RGB (a palette gives RGB); 16-bit
// samples stay 16-bit, fewer bits become 8; its iCCP profile kept. Returns
// nothing for a PNG the general path treats in a way of its own (a gamma or
// primaries other than sRGB's, a profile or orientation it finds in text,
// EXIF or an orNT chunk, a palette index past the palette). A profile of the
// size of a common sRGB profile, which ImageMagick may drop, is kept when
// `keepsProfile` says the general path keeps it; without `keepsProfile` such
// a PNG is declined. Throws CodecError on broken data; checks `stop` between
// rows.
using ProfileCheck = std::function<bool(const QByteArray& profile)>;
std::optional<Picture> decodePng(const QByteArray& bytes, const SizeCheck& check,
                                 const ProfileCheck& keepsProfile = {}, std::stop_token stop = {});

// Decodes an uncompressed 24- or 32-bit or 8-bit palette BMP, bottom-up or
// top-down, with the 40-byte header or the 108- and 124-byte ones in sRGB
// without a profile, into the picture the general path gives: RGB, or RGBA
// for 32 bits when bit fields give alpha or, under the 40-byte header, once a
// fourth byte is not zero. Returns nothing for any other BMP (other headers,
// compression, bit fields or depths, a length other than the header's, too
// little data, an index past the palette).
std::optional<Picture> decodeBmp(const QByteArray& bytes, const SizeCheck& check,
                                 std::stop_token stop = {});

// Turns an upright-by-EXIF picture into its upright form.
Picture orient(const Picture& picture, int orientation);

// The JPEG turned upright without decoding and encoding it again: its own
// compressed data when the orientation is 1, else its coefficients turned
// losslessly (TurboJPEG, perfect transforms only); its EXIF, XMP and APP13
// replaced by `metadata` made upright, every other segment kept. Nothing when
// that cannot be done exactly: not 8-bit YCbCr or gray, a warning about its
// data, or a partial block on an edge that would move.
std::optional<QByteArray> uprightJpegLosslessly(const QByteArray& jpeg, int orientation,
                                                const PictureMetadata& metadata);

// The encoders take 8-bit gray or RGB for JPEG, BMP and PCX (the caller flattens
// alpha and reduces depth) and any picture for PNG and TIFF. JPEG colour is
// sampled as the source JPEG was, else fully from quality 90 up and halved in
// both directions below, ImageMagick's choice.
QByteArray encodeJpeg(const Picture& picture, int quality, std::stop_token stop = {});
QByteArray encodeBmp(const Picture& picture);
QByteArray encodePcx(const Picture& picture);
QByteArray encodePng(const Picture& picture, std::stop_token stop = {});
QByteArray encodeTiff(const Picture& picture);
// The bitmap as encodeBmp writes it, handed out as it is written. Keeps the
// picture (its pixels are shared, not copied).
std::unique_ptr<FileBytes> bmpFileBytes(Picture picture);
// The same for encodePcx.
std::unique_ptr<FileBytes> pcxFileBytes(Picture picture);
// A picture already reduced to at most 256 colours: the palette holds three
// bytes (red, green, blue) a colour, the indexes one byte a pixel, rows top
// to bottom. Pixels of the transparent index (unless -1) are left transparent.
QByteArray encodeGif(int width, int height, const QByteArray& palette, const QByteArray& indexes,
                     int transparentIndex = -1, std::stop_token stop = {});

} // namespace directcodec
