// SPDX-License-Identifier: MIT
#include "magick/MagickDecoding.h"

#include "input/PictureLimits.h"
#include "input/PictureSniffing.h"
#include "magick/MagickSetup.h"
#include "magick/MagickSupport.h"
#include "metadata/MetadataBlocks.h"

#include <algorithm>
#include <new>

namespace {

// Decodes the blob as the given format, or with ping only reads the headers.
// Warnings are ignored on purpose: a picture that decodes with one (say, a
// truncated JPEG) is still a picture; an error fails. The images keep
// watching `stop`, which must outlive them.
ImageList decodeBlob(const QByteArray& bytes, SourceFormat format, bool ping, bool firstOnly,
                     const QString& fileName, const std::stop_token& stop) {
    std::unique_ptr<MagickCore::ImageInfo, ImageInfoDeleter> info(MagickCore::AcquireImageInfo());
    if (stop.stop_possible())
        MagickCore::SetImageInfoProgressMonitor(info.get(), keepGoing,
                                                const_cast<std::stop_token*>(&stop));
    MagickCore::CopyMagickString(info->magick, magickCoderOf(format), MaxTextExtent);
    info->ping = ping ? MagickCore::MagickTrue : MagickCore::MagickFalse;
    if (firstOnly) {
        info->scene = 0;
        info->number_scenes = 1;
    }
    ExceptionPtr exception(MagickCore::AcquireExceptionInfo());
    ImageList images(MagickCore::BlobToImage(info.get(), bytes.constData(), size_t(bytes.size()),
                                             exception.get()));
    throwIfStopped(stop);
    if (exception->severity >= MagickCore::ErrorException)
        failFromCodec(fileName, exception->severity, codecMessage(*exception));
    if (!images)
        failFor(FailureKind::NotAPicture, fileName,
                exception->reason ? codecMessage(*exception)
                                  : QStringLiteral("the codec found no picture"));
    return images;
}

// The one picture a file stands for: the largest image of an icon (the deepest
// among equals), else the first image (the merged picture of a PSD).
Magick::Image pickImage(ImageList images, bool largest) {
    MagickCore::Image* chosen = images.get();
    if (largest) {
        for (MagickCore::Image* p = images.get(); p; p = MagickCore::GetNextImageInList(p)) {
            const double area = double(p->columns) * double(p->rows);
            const double best = double(chosen->columns) * double(chosen->rows);
            if (area > best || (area == best && p->depth > chosen->depth))
                chosen = p;
        }
    }
    if (chosen != images.get()) {
        ExceptionPtr exception(MagickCore::AcquireExceptionInfo());
        MagickCore::Image* copy =
            MagickCore::CloneImage(chosen, 0, 0, MagickCore::MagickTrue, exception.get());
        if (!copy)
            throw std::bad_alloc();
        return Magick::Image(copy);
    }
    MagickCore::Image* first = images.release();
    ImageList rest(MagickCore::SplitImageList(first));
    return Magick::Image(first);
}

// A GIF frame may cover only part of the logical screen; the picture is the
// whole screen with the frame drawn at its place, the rest transparent, and
// what of the frame lies beyond the screen cut off. A file that declares no
// screen (zero sides) is as large as its frame reaches.
void placeOnCanvas(Magick::Image& image, const QString& fileName) {
    const Magick::Geometry page = image.page();
    const size_t right = size_t(std::max<ssize_t>(0, page.xOff())) + image.columns();
    const size_t bottom = size_t(std::max<ssize_t>(0, page.yOff())) + image.rows();
    const size_t width = page.width() > 0 ? page.width() : right;
    const size_t height = page.height() > 0 ? page.height() : bottom;
    if (width != image.columns() || height != image.rows() || page.xOff() != 0 ||
        page.yOff() != 0) {
        checkDimensions(fileName, qint64(width), qint64(height));
        // Extending the frame itself: a fresh canvas would need the "xc" coder,
        // which the allow-list refuses.
        image.matte(true);
        image.backgroundColor(Magick::Color("none"));
        image.extent(Magick::Geometry(width, height, -std::max<ssize_t>(0, page.xOff()),
                                      -std::max<ssize_t>(0, page.yOff())));
    }
    image.repage();
}

// A PCX of one bit and one plane holds white as a set bit, the format's
// convention, but ImageMagick 6.9.11's reader takes a set bit for black.
// Whether the library at hand does is found once, by decoding a tiny one.
bool readsOneBitPcxInverted() {
    static const bool inverted = [] {
        QByteArray pcx(128, '\0');
        pcx[0] = 0x0A; // manufacturer, version 5, run-length encoded, 1 bit a pixel
        pcx[1] = 5;
        pcx[2] = 1;
        pcx[3] = 1;
        pcx[8] = 7;  // eight pixels across, one down
        pcx[65] = 1; // one plane, two bytes a row
        pcx[66] = 2;
        pcx += QByteArray("\x0F\x00", 2); // black, then white from the fifth pixel on
        try {
            const std::stop_token never;
            Magick::Image image(
                decodeBlob(pcx, SourceFormat::Pcx, false, true, QStringLiteral("probe"), never)
                    .release());
            return Magick::ColorGray(image.pixelColor(0, 0)).shade() > 0.5;
        } catch (const std::exception&) {
            return false;
        }
    }();
    return inverted;
}

bool isOneBitPcx(const QByteArray& bytes) {
    return bytes.size() > 128 && bytes[0] == 0x0A && bytes[3] == 1 && bytes[65] == 1;
}

bool isGray(MagickCore::ColorspaceType colorspace) {
    return colorspace == MagickCore::GRAYColorspace ||
           colorspace == MagickCore::LinearGRAYColorspace ||
           colorspace == MagickCore::Rec601LumaColorspace ||
           colorspace == MagickCore::Rec709LumaColorspace;
}

// Brings the samples to sRGB (or non-linear gray). CMYK with an embedded
// profile goes through colour management; the rest by ImageMagick's formulas.
// Returns whether the source's profile still describes the samples.
bool toStandardColours(Magick::Image& image) {
    const MagickCore::ColorspaceType colorspace = image.colorSpace();
    if (colorspace == MagickCore::sRGBColorspace || colorspace == MagickCore::GRAYColorspace)
        return true;
    if (isGray(colorspace)) {
        image.colorSpace(MagickCore::GRAYColorspace);
        return false;
    }
    const QByteArray& srgb = srgbIccProfile();
    if (colorspace == MagickCore::CMYKColorspace && image.profile("ICC").length() > 0 &&
        !srgb.isEmpty())
        image.profile("ICC", Magick::Blob(srgb.constData(), size_t(srgb.size())));
    if (image.colorSpace() != MagickCore::sRGBColorspace)
        image.colorSpace(MagickCore::sRGBColorspace);
    return false;
}

Picture toPicture(Magick::Image& image, bool keepProfile) {
    Picture picture;
    picture.width = int(image.columns());
    picture.height = int(image.rows());
    picture.bitsPerSample = image.depth() > 8 ? 16 : 8;
    const char* map = "RGB";
    if (image.matte()) {
        picture.channels = Picture::Channels::Rgba;
        map = "RGBA";
    } else if (image.colorSpace() == MagickCore::GRAYColorspace) {
        picture.channels = Picture::Channels::Gray;
        map = "I";
    }
    picture.pixels.resize(picture.bytesPerLine() * picture.height);
    image.write(0, 0, image.columns(), image.rows(), map,
                picture.bitsPerSample == 16 ? MagickCore::ShortPixel : MagickCore::CharPixel,
                picture.pixels.data());
    if (keepProfile) {
        const Magick::Blob icc = image.profile("ICC");
        if (icc.length() > 0)
            picture.iccProfile =
                QByteArray(static_cast<const char*>(icc.data()), qsizetype(icc.length()));
    }
    return picture;
}

QByteArray profileOf(const Magick::Image& image, const char* name) {
    const Magick::Blob blob = image.profile(name);
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
}

// The blocks ImageMagick found: EXIF (some readers keep the JPEG segment's
// prefix), XMP, and the IPTC record, which goes into Photoshop resources of
// its own (a PSD's other resources, thumbnails among them, are left out).
PictureMetadata metadataOf(const Magick::Image& image) {
    PictureMetadata found;
    const QByteArray exifPrefix("Exif\0\0", 6);
    found.exif = profileOf(image, "exif");
    if (found.exif.startsWith(exifPrefix))
        found.exif.remove(0, exifPrefix.size());
    found.xmp = profileOf(image, "xmp");
    found.photoshop = metadata::photoshopWithIptc(profileOf(image, "iptc"));
    return found;
}

// Notes a JPEG's sampling as ImageMagick reports it ("2x2,1x1,1x1") when the
// chroma components are sampled once per block.
void noteJpegSampling(Picture& picture, const std::string& factors, bool turnsSideways) {
    const QStringList parts = QString::fromStdString(factors).split(',');
    if (parts.size() != 3 || parts[1] != QLatin1String("1x1") || parts[2] != QLatin1String("1x1"))
        return;
    const QStringList luma = parts[0].split('x');
    const int x = luma.value(0).toInt();
    const int y = luma.size() == 2 ? luma[1].toInt() : 0;
    if (x < 1 || x > 4 || y < 1 || y > 4)
        return;
    picture.jpegSamplingX = turnsSideways ? y : x;
    picture.jpegSamplingY = turnsSideways ? x : y;
}

// Throws the failure a Magick++ exception stands for: too large or damaged.
[[noreturn]] void failFromException(const QString& fileName, const Magick::Exception& e) {
    const QString message = QString::fromLocal8Bit(e.what());
    failFor(isLimitMessage(message) ? FailureKind::PictureTooLarge : FailureKind::NotAPicture,
            fileName, message);
}

Picture decode(const QByteArray& bytes, const SourceHeader& header, const QString& fileName,
               const std::stop_token& stop) {
    const SourceFormat format = header.format;
    const bool isIcon = format == SourceFormat::Ico;
    if (header.declared.isKnown())
        checkDimensions(fileName, header.declared.width, header.declared.height);
    {
        const ImageList header = decodeBlob(bytes, format, true, !isIcon, fileName, stop);
        for (const MagickCore::Image* p = header.get(); p; p = MagickCore::GetNextImageInList(p))
            checkDimensions(fileName, qint64(p->columns), qint64(p->rows));
    }
    Magick::Image image =
        pickImage(decodeBlob(bytes, format, false, !isIcon, fileName, stop), isIcon);
    image.quiet(true);
    checkDimensions(fileName, qint64(image.columns()), qint64(image.rows()));
    if (format == SourceFormat::Gif)
        placeOnCanvas(image, fileName);
    if (format == SourceFormat::Pcx && isOneBitPcx(bytes) && readsOneBitPcxInverted())
        image.negate();
    const bool turnsSideways = image.orientation() >= MagickCore::LeftTopOrientation;
    image.autoOrient();
    const bool keepProfile = toStandardColours(image);
    throwIfStopped(stop);
    Picture picture = toPicture(image, keepProfile);
    picture.metadata = metadataOf(image);
    if (format == SourceFormat::Jpeg) {
        picture.jpegQuality = int(image.quality());
        noteJpegSampling(picture, image.attribute("jpeg:sampling-factor"), turnsSideways);
    }
    return picture;
}

} // namespace

Picture decodeWithMagick(const QByteArray& bytes, const SourceHeader& header,
                         const QString& fileName, const std::stop_token& stop) {
    try {
        return decode(bytes, header, fileName, stop);
    } catch (const Magick::Exception& e) {
        failFromException(fileName, e);
    }
}

// ImageMagick's estimate of a JPEG's quality, from its quantisation tables.
// Reading the header only is cheap, and gives exactly the figure a full
// decode reports.
int magickJpegQuality(const QByteArray& bytes, const QString& fileName) {
    const std::stop_token headerOnly;
    try {
        const ImageList header =
            decodeBlob(bytes, SourceFormat::Jpeg, true, true, fileName, headerOnly);
        return int(header->quality);
    } catch (const Magick::Exception& e) {
        failFromException(fileName, e);
    }
}

QByteArray magickColourProfile(const QByteArray& bytes, SourceFormat format,
                               const QString& fileName) {
    const std::stop_token headerOnly;
    try {
        const ImageList header = decodeBlob(bytes, format, true, true, fileName, headerOnly);
        const MagickCore::StringInfo* icc = MagickCore::GetImageProfile(header.get(), "icc");
        if (!icc)
            return {};
        return QByteArray(reinterpret_cast<const char*>(MagickCore::GetStringInfoDatum(icc)),
                          qsizetype(MagickCore::GetStringInfoLength(icc)));
    } catch (const Magick::Exception& e) {
        failFromException(fileName, e);
    }
}
