// SPDX-License-Identifier: MIT
#include "conversion/PictureConversion.h"

#include "PlatformError.h"
#include "colours/GifColours.h"
#include "formats/DirectCodecs.h"
#include "formats/PaletteCodecs.h"
#include "input/PictureLimits.h"
#include "input/PictureReading.h"
#include "input/PictureSniffing.h"
#include "magick/MagickDecoding.h"
#include "magick/MagickEncoding.h"
#include "magick/MagickSetup.h"
#include "metadata/ExifBlocks.h"
#include "metadata/MetadataBlocks.h"
#include "pixels/PixelChecks.h"
#include "pixels/PixelConversions.h"
#include "system/OutputFiles.h"
#include "tiff/TiffPlanesReading.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>

namespace {

// Refuses a small file whose header declares a huge picture (see
// kMaxPixelsPerFileByte).
void checkDeclaredAgainstData(const QString& fileName, const QByteArray& bytes,
                              const DeclaredSize& declared) {
    if (!declared.isKnown())
        return;
    const double pixels = double(declared.width) * double(declared.height);
    if (pixels > double(kBombCheckFloor) &&
        pixels > double(bytes.size()) * double(kMaxPixelsPerFileByte))
        failFor(FailureKind::PictureTooLarge, fileName,
                QStringLiteral("%1 x %2 pixels declared by %3 bytes")
                    .arg(declared.width)
                    .arg(declared.height)
                    .arg(bytes.size()));
}

// The direct JPEG decode; null when the general path is to decide (a JPEG
// variant left to it, or damage the direct decoder gave up on: the general
// path then reports it in its own words, or reads what it can).
std::shared_ptr<Picture> decodeJpegDirectly(const QByteArray& bytes, const QString& fileName,
                                            int boxWidth, int boxHeight,
                                            const std::stop_token& stop, long* warnings = nullptr) {
    std::optional<Picture> picture;
    try {
        picture = directcodec::decodeJpeg(
            bytes, [&](qint64 width, qint64 height) { checkDimensions(fileName, width, height); },
            boxWidth, boxHeight, stop, warnings);
    } catch (const directcodec::CodecError&) {
        return nullptr;
    }
    if (!picture)
        return nullptr;
    return std::make_shared<Picture>(std::move(*picture));
}

// A TIFF in separate planes, which the general path misreads, through
// libtiff; nothing for any other TIFF, or one libtiff gives up on (the
// general path then reports it in its own words).
std::optional<Picture> decodeTiffPlanesDirectly(const QByteArray& bytes, const QString& fileName,
                                                const std::stop_token& stop) {
    try {
        return directcodec::decodeTiffPlanes(
            bytes, [&](qint64 width, qint64 height) { checkDimensions(fileName, width, height); },
            stop);
    } catch (const directcodec::CodecError&) {
        return std::nullopt;
    }
}

// A source read and recognised once: its bytes, what its header says, and
// the metadata blocks we read ourselves (the JPEG and PNG blocks and TIFF's
// EXIF directories), as found. Every later step works from this.
struct Source {
    QByteArray bytes;
    SourceHeader header;
    PictureMetadata metadata;
};

// The direct decode of a PNG or a simple BMP; nothing when the general path
// is to decide (a file it treats in a way of its own, or damage, which it
// then reports in its own words). A preview of either is the whole picture,
// as from the general path. Whether a PNG profile that may be a common sRGB
// one is kept, the general path's reading of the headers tells.
std::optional<Picture> decodeDirectly(const Source& source, const QString& fileName,
                                      const std::stop_token& stop) {
    const QByteArray& bytes = source.bytes;
    const directcodec::SizeCheck check = [&](qint64 width, qint64 height) {
        checkDimensions(fileName, width, height);
    };
    try {
        switch (source.header.format) {
        case SourceFormat::Png:
            return directcodec::decodePng(
                bytes, check,
                [&](const QByteArray& profile) {
                    return magickColourProfile(bytes, SourceFormat::Png, fileName) == profile;
                },
                stop);
        case SourceFormat::Bmp:
            return directcodec::decodeBmp(bytes, check, stop);
        default:
            return std::nullopt;
        }
    } catch (const directcodec::CodecError&) {
        return std::nullopt;
    }
}

// The blocks we read ourselves; the general path reads the rest.
PictureMetadata ourMetadataOf(const QByteArray& bytes, SourceFormat format) {
    switch (format) {
    case SourceFormat::Jpeg:
        return metadata::ofJpeg(bytes);
    case SourceFormat::Png:
        return metadata::ofPng(bytes);
    case SourceFormat::Tiff:
        return PictureMetadata{exif::exifOfTiffFile(bytes), {}, {}};
    default:
        return {};
    }
}

// What the source carries, as its bytes hold it: ours for JPEG and PNG;
// for TIFF the general path's XMP and IPTC with our EXIF; for the rest (the
// PSD's blocks) the general path's.
PictureMetadata rawMetadataOf(const Source& source, const PictureMetadata& fromGeneralPath) {
    const SourceFormat format = source.header.format;
    if (format == SourceFormat::Jpeg || format == SourceFormat::Png)
        return source.metadata;
    PictureMetadata raw = fromGeneralPath;
    if (format == SourceFormat::Tiff)
        raw.exif = source.metadata.exif;
    return raw;
}

// Reads the source and recognises it; a preview needs no metadata.
Source readSource(const QString& fileName, bool withMetadata) {
    const QString notReady = prepareMagick();
    if (!notReady.isEmpty())
        failFor(FailureKind::CodecNotReady, fileName, notReady);
    Source source{readPictureBytes(fileName), {}, {}};
    const std::optional<SourceHeader> header = recognise(source.bytes);
    if (!header) {
        // A format we know by name but do not read is told apart from damage.
        if (const QString format = unsupportedFormatOf(source.bytes); !format.isEmpty())
            throw PlatformError(FailureKind::UnsupportedFormat,
                                QStringLiteral("%1: %2, a format we do not read")
                                    .arg(QDir::toNativeSeparators(fileName), format),
                                format);
        failFor(FailureKind::NotAPicture, fileName,
                QStringLiteral("the content is not a picture format we read"));
    }
    source.header = *header;
    checkDeclaredAgainstData(fileName, source.bytes, source.header.declared);
    if (withMetadata) {
        try {
            source.metadata = ourMetadataOf(source.bytes, source.header.format);
        } catch (const std::bad_alloc&) {
            failFor(FailureKind::PictureTooLarge, fileName, QStringLiteral("out of memory"));
        }
    }
    return source;
}

// Decodes the source; with a box, as a preview (no metadata, no quality).
PictureObject decodeSource(const Source& source, const QString& fileName, int boxWidth,
                           int boxHeight, const std::stop_token& stop) {
    const bool preview = boxWidth > 0;
    try {
        std::shared_ptr<Picture> picture;
        if (source.header.format == SourceFormat::Jpeg) {
            picture = decodeJpegDirectly(source.bytes, fileName, boxWidth, boxHeight, stop);
            // A preview is only looked at; the quality matters for writing.
            if (picture && !preview)
                picture->jpegQuality = magickJpegQuality(source.bytes, fileName);
        }
        if (!picture) {
            if (std::optional<Picture> direct = decodeDirectly(source, fileName, stop))
                picture = std::make_shared<Picture>(std::move(*direct));
        }
        if (!picture && source.header.format == SourceFormat::Tiff) {
            if (std::optional<Picture> planes =
                    decodeTiffPlanesDirectly(source.bytes, fileName, stop))
                picture = std::make_shared<Picture>(std::move(*planes));
        }
        if (!picture)
            picture = std::make_shared<Picture>(
                decodeWithMagick(source.bytes, source.header, fileName, stop));
        if (!preview)
            picture->metadata = metadata::upright(rawMetadataOf(source, picture->metadata),
                                                  picture->width, picture->height);
        else
            picture->metadata = {};
        return picture;
    } catch (const PlatformError&) {
        throw;
    } catch (const std::bad_alloc&) {
        failFor(FailureKind::PictureTooLarge, fileName, QStringLiteral("out of memory"));
    } catch (const std::exception& e) {
        failFor(FailureKind::NotAPicture, fileName, QString::fromLocal8Bit(e.what()));
    }
}

PictureObject loadPicture(const QString& fileName, int boxWidth, int boxHeight,
                          const std::stop_token& stop) {
    return decodeSource(readSource(fileName, boxWidth == 0), fileName, boxWidth, boxHeight, stop);
}

// A JPEG source written as JPG without a second generation, when that can be
// done exactly; the preview then comes from a scaled decode, which also
// shows whether the data is whole.
std::optional<PictureFileConversion> carryJpeg(const Source& source, const QString& fileName,
                                               const QString& target, int boxWidth, int boxHeight,
                                               const std::stop_token& stop) {
    // Out of memory here, the whole decode reports it in its own words.
    long warnings = 0;
    std::shared_ptr<Picture> preview;
    std::optional<QByteArray> carried;
    try {
        preview = decodeJpegDirectly(source.bytes, fileName, std::max(boxWidth, 1),
                                     std::max(boxHeight, 1), stop, &warnings);
        if (!preview || warnings > 0)
            return std::nullopt;
        // The orientation the decoder applied, read the same way.
        const int orientation = exif::orientationOf(source.metadata.exif);
        checkReplaceable(target);
        carried = directcodec::uprightJpegLosslessly(source.bytes, orientation, source.metadata);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (!carried)
        return std::nullopt;
    throwIfStopped(stop);
    return PictureFileConversion{prepareOutputFile(*carried, target), std::move(preview)};
}

bool isConsistent(const Picture& p) {
    return p.width > 0 && p.height > 0 && (p.bitsPerSample == 8 || p.bitsPerSample == 16) &&
           p.pixels.size() == p.bytesPerLine() * p.height;
}

// The direct encoders: each gives the picture's file, or none when the
// picture is left to the general path. Only the cases where the direct codec
// gives what the general path gives are taken.
using DirectEncoder = std::unique_ptr<FileBytes> (*)(const Picture& picture,
                                                     const std::stop_token& stop);

// The array as the whole file; none for a null array.
std::unique_ptr<FileBytes> wholeOrNone(QByteArray bytes) {
    if (bytes.isNull())
        return nullptr;
    return std::make_unique<WholeFileBytes>(std::move(bytes));
}

std::unique_ptr<FileBytes> encodeJpgDirectly(const Picture& picture, const std::stop_token& stop) {
    // A gray picture is written with one component.
    Picture flat = flattenedEightBit(picture);
    if (flat.channels == Picture::Channels::Rgb && isAllGray(flat))
        flat = grayOf(flat);
    return wholeOrNone(
        directcodec::encodeJpeg(flat, picture.jpegQuality > 0 ? picture.jpegQuality : 92, stop));
}

// The kind is decided on what is written: after flattening.
std::unique_ptr<FileBytes> encodeBmpDirectly(const Picture& picture, const std::stop_token&) {
    Picture flat = flattenedEightBit(picture);
    const PictureKind kind = pictureKindOf(flat);
    return kind.isPhoto()
               ? directcodec::bmpFileBytes(std::move(flat))
               : wholeOrNone(directcodec::encodePaletteBmp(flat.width, flat.height, kind));
}

std::unique_ptr<FileBytes> encodePcxDirectly(const Picture& picture, const std::stop_token&) {
    Picture flat = flattenedEightBit(picture);
    const PictureKind kind = pictureKindOf(flat);
    return kind.isPhoto()
               ? directcodec::pcxFileBytes(std::move(flat))
               : wholeOrNone(directcodec::encodePalettePcx(flat.width, flat.height, kind));
}

// Our own colour reduction and LZW writer; ImageMagick's reduction stays the
// reference the tests and the bench hold it to.
std::unique_ptr<FileBytes> encodeGifDirectly(const Picture& picture, const std::stop_token& stop) {
    const PalettePicture reduced = reduceColoursForGif(picture, stop);
    return wholeOrNone(directcodec::encodeGif(reduced.width, reduced.height, reduced.palette,
                                              reduced.indexes, reduced.transparentIndex, stop));
}

std::unique_ptr<FileBytes> encodePngDirectly(const Picture& picture, const std::stop_token& stop) {
    // ImageMagick writes pictures of up to 256 colours as palette PNGs, which
    // the general path keeps doing; likewise gray, 16-bit and profiled
    // pictures, and transparency without partial alpha.
    if (picture.bitsPerSample != 8 || !picture.iccProfile.isEmpty() ||
        picture.channels == Picture::Channels::Gray || !hasMoreColoursThan(picture, 256) ||
        (picture.hasAlpha() && !hasPartialAlpha(picture)))
        return nullptr;
    return wholeOrNone(directcodec::encodePng(picture, stop));
}

std::unique_ptr<FileBytes> encodeTiffDirectly(const Picture& picture, const std::stop_token&) {
    if (picture.hasAlpha() && isAllGray(picture))
        return nullptr;
    if (picture.channels == Picture::Channels::Rgb && isAllGray(picture)) {
        const Picture gray = grayOf(picture);
        return directcodec::tiffFileBytesByKind(gray, pictureKindOf(gray), picture.metadata.exif);
    }
    return directcodec::tiffFileBytesByKind(picture, pictureKindOf(picture), picture.metadata.exif);
}

// The direct encoder of each target format, in the order of kTargetFormatTable;
// none for ICO, which the general path writes.
constexpr std::array<DirectEncoder, kTargetFormatTable.size()> kDirectEncoders{
    encodeJpgDirectly,  // Jpg
    encodeBmpDirectly,  // Bmp
    encodeGifDirectly,  // Gif
    encodePcxDirectly,  // Pcx
    encodePngDirectly,  // Png
    nullptr,            // Ico
    encodeTiffDirectly, // Tiff
};

std::unique_ptr<FileBytes> encodeDirectly(const Picture& picture, TargetFormat format,
                                          const std::stop_token& stop) {
    const DirectEncoder encode = kDirectEncoders[static_cast<std::size_t>(format)];
    return encode ? encode(picture, stop) : nullptr;
}

// Whether the file's metadata blocks are put in after encoding: JPG and PNG
// take every block that way, TIFF from the general path its EXIF (the direct
// TIFF encoder puts the EXIF in itself; both write the XMP and IPTC as tags).
bool takesMetadataAfter(const Picture& picture, TargetFormat format, bool direct) {
    if (format == TargetFormat::Jpg || format == TargetFormat::Png)
        return !picture.metadata.isEmpty();
    return format == TargetFormat::Tiff && !direct && !picture.metadata.exif.isEmpty();
}

// The picture's file, from the direct codec where it applies, else from the
// general path, with its metadata blocks in their places.
std::unique_ptr<FileBytes> encodePictureFile(const Picture& picture, TargetFormat format,
                                             const std::stop_token& stop) {
    std::unique_ptr<FileBytes> direct = encodeDirectly(picture, format, stop);
    if (!takesMetadataAfter(picture, format, direct != nullptr)) {
        if (direct)
            return direct;
        return std::make_unique<WholeFileBytes>(encodeWithMagick(picture, format, stop));
    }
    QByteArray encoded = direct ? direct->joined() : encodeWithMagick(picture, format, stop);
    // The blocks go in each file's own places, whichever encoder wrote it.
    const PictureMetadata& blocks = picture.metadata;
    if (format == TargetFormat::Tiff) {
        exif::putExifInTiff(encoded, blocks.exif); // left as it is when either is damaged
        return std::make_unique<WholeFileBytes>(std::move(encoded));
    }
    const QByteArray withMetadata = format == TargetFormat::Jpg
                                        ? metadata::withJpegMetadata(encoded, blocks)
                                        : metadata::withPngMetadata(encoded, blocks);
    return std::make_unique<WholeFileBytes>(withMetadata.isEmpty() ? std::move(encoded)
                                                                   : std::move(withMetadata));
}

} // namespace

PictureObject loadPictureFile(const QString& fileName, std::stop_token stop) {
    return loadPicture(fileName, 0, 0, stop);
}

PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight) {
    const std::stop_token never;
    return loadPicture(fileName, std::max(boxWidth, 1), std::max(boxHeight, 1), never);
}

QByteArray encodePicture(const Picture& picture, TargetFormat format, const std::stop_token& stop) {
    return encodePictureFile(picture, format, stop)->joined();
}

PictureFileConversion convertPictureFile(const QString& source, TargetFormat format,
                                         const QString& target, int previewWidth, int previewHeight,
                                         std::stop_token stop) {
    const Source read = readSource(source, true);
    if (format == TargetFormat::Jpg && read.header.format == SourceFormat::Jpeg)
        if (std::optional<PictureFileConversion> carried =
                carryJpeg(read, source, target, previewWidth, previewHeight, stop))
            return std::move(*carried);
    PictureObject picture = decodeSource(read, source, 0, 0, stop);
    std::unique_ptr<PreparedPicture> file = preparePictureFile(*picture, format, target, stop);
    return {std::move(file), std::move(picture)};
}

std::unique_ptr<PreparedPicture> preparePictureFile(const Picture& picture, TargetFormat format,
                                                    const QString& fileName, std::stop_token stop) {
    const QString notReady = prepareMagick();
    if (!notReady.isEmpty())
        failFor(FailureKind::CodecNotReady, fileName, notReady);
    if (!isConsistent(picture))
        failFor(FailureKind::CannotWrite, fileName, QStringLiteral("the picture holds no pixels"));
    // Refused before the work of encoding, and again when it is put in place.
    checkReplaceable(fileName);
    std::unique_ptr<FileBytes> encoded;
    try {
        encoded = encodePictureFile(picture, format, stop);
    } catch (const PlatformError&) {
        throw;
    } catch (const std::exception& e) {
        failFor(FailureKind::CannotWrite, fileName, QString::fromLocal8Bit(e.what()));
    }
    throwIfStopped(stop);
    return prepareOutputFile(*encoded, fileName);
}
