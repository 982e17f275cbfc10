// SPDX-License-Identifier: MIT
// Picture files through ImageMagick. Our code reads and writes the bytes; the
// codec only ever sees memory blobs, decoded with a format we chose from the
// content, so a file's name never reaches it.
#include "PictureFiles.h"

#include "FastCodecs.h"
#include "MagickSetup.h"
#include "OutputFiles.h"
#include "PictureReading.h"
#include "PictureScaling.h"
#include "PictureSniffing.h"
#include "PlatformError.h"

#include <Magick++.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

namespace {

[[noreturn]] void fail(FailureKind kind, const QString& fileName, const QString& why) {
    throw PlatformError(kind,
                        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), why));
}

// ---- decoding ---------------------------------------------------------------

struct ImageInfoDeleter {
    void operator()(MagickCore::ImageInfo* p) const { MagickCore::DestroyImageInfo(p); }
};
struct ExceptionDeleter {
    void operator()(MagickCore::ExceptionInfo* p) const { MagickCore::DestroyExceptionInfo(p); }
};
struct ImageListDeleter {
    void operator()(MagickCore::Image* p) const { MagickCore::DestroyImageList(p); }
};
using ImageList = std::unique_ptr<MagickCore::Image, ImageListDeleter>;
using ExceptionPtr = std::unique_ptr<MagickCore::ExceptionInfo, ExceptionDeleter>;

// A picture within our declared limits may still need more pixel cache than
// the codec's resource limits give it (a 14000 x 14000 PNG does); ImageMagick
// then says "cache resources exhausted", which is a size, not damage.
bool isLimitMessage(const QString& text) {
    return text.contains(QLatin1String("exceeds limit"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("ExceedsLimit"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("resources exhausted"), Qt::CaseInsensitive);
}

[[noreturn]] void failFromCodec(const QString& fileName, MagickCore::ExceptionType severity,
                                const QString& message) {
    const bool tooLarge = severity == MagickCore::ResourceLimitError || isLimitMessage(message);
    fail(tooLarge ? FailureKind::PictureTooLarge : FailureKind::NotAPicture, fileName, message);
}

QString codecMessage(const MagickCore::ExceptionInfo& e) {
    QString text = QString::fromLocal8Bit(e.reason ? e.reason : "unknown codec error");
    if (e.description && *e.description)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(e.description));
    return text;
}

// ImageMagick asks this between the rows of its long operations; the answer
// false makes it stop. The client data is the caller's stop token.
MagickCore::MagickBooleanType keepGoing(const char*, const MagickCore::MagickOffsetType,
                                        const MagickCore::MagickSizeType, void* stop) {
    return static_cast<const std::stop_token*>(stop)->stop_requested() ? MagickCore::MagickFalse
                                                                       : MagickCore::MagickTrue;
}

// Lets a stop request end ImageMagick's work on the image (and its copies).
// The token must outlive the image.
void watchStop(Magick::Image& image, const std::stop_token& stop) {
    if (!stop.stop_possible())
        return;
    image.modifyImage();
    MagickCore::SetImageProgressMonitor(image.image(), keepGoing,
                                        const_cast<std::stop_token*>(&stop));
}

// Decodes the blob with the given coder, or with ping only reads the headers.
// Warnings are ignored on purpose: a picture that decodes with one (say, a
// truncated JPEG) is still a picture; an error fails. The images keep
// watching `stop`, which must outlive them.
ImageList decodeBlob(const QByteArray& bytes, const char* coder, bool ping, bool firstOnly,
                     const QString& fileName, const std::stop_token& stop) {
    std::unique_ptr<MagickCore::ImageInfo, ImageInfoDeleter> info(MagickCore::AcquireImageInfo());
    if (stop.stop_possible())
        MagickCore::SetImageInfoProgressMonitor(info.get(), keepGoing,
                                                const_cast<std::stop_token*>(&stop));
    MagickCore::CopyMagickString(info->magick, coder, MaxTextExtent);
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
        fail(FailureKind::NotAPicture, fileName,
             exception->reason ? codecMessage(*exception)
                               : QStringLiteral("the codec found no picture"));
    return images;
}

// Refuses a small file whose header declares a huge picture (see
// kMaxPixelsPerFileByte).
void checkDeclaredAgainstData(const QString& fileName, const QByteArray& bytes, const char* coder) {
    const DeclaredSize declared = declaredSize(bytes, coder);
    if (!declared.isKnown())
        return;
    const double pixels = double(declared.width) * double(declared.height);
    if (pixels > double(kBombCheckFloor) &&
        pixels > double(bytes.size()) * double(kMaxPixelsPerFileByte))
        fail(FailureKind::PictureTooLarge, fileName,
             QStringLiteral("%1 x %2 pixels declared by %3 bytes")
                 .arg(declared.width)
                 .arg(declared.height)
                 .arg(bytes.size()));
}

void checkDimensions(const QString& fileName, size_t width, size_t height) {
    if (width == 0 || height == 0)
        fail(FailureKind::NotAPicture, fileName, QStringLiteral("the picture has no pixels"));
    if (width > size_t(kMaxPictureSide) || height > size_t(kMaxPictureSide) ||
        double(width) * double(height) > double(kMaxPicturePixels))
        fail(FailureKind::PictureTooLarge, fileName,
             QStringLiteral("%1 x %2 pixels is beyond our limits").arg(width).arg(height));
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
// whole screen with the frame drawn at its place, the rest transparent.
void placeOnCanvas(Magick::Image& image, const QString& fileName) {
    const Magick::Geometry page = image.page();
    const size_t right = size_t(std::max<ssize_t>(0, page.xOff())) + image.columns();
    const size_t bottom = size_t(std::max<ssize_t>(0, page.yOff())) + image.rows();
    const size_t width = std::max(page.width(), right);
    const size_t height = std::max(page.height(), bottom);
    if (width != image.columns() || height != image.rows()) {
        checkDimensions(fileName, width, height);
        // Extending the frame itself: a fresh canvas would need the "xc" coder,
        // which the allow-list refuses.
        image.matte(true);
        image.backgroundColor(Magick::Color("none"));
        image.extent(Magick::Geometry(width, height, -std::max<ssize_t>(0, page.xOff()),
                                      -std::max<ssize_t>(0, page.yOff())));
    }
    image.repage();
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

Picture decodePicture(const QByteArray& bytes, const char* coder, const QString& fileName,
                      const std::stop_token& stop) {
    const bool isIcon = std::strcmp(coder, "ICO") == 0;
    if (const DeclaredSize declared = declaredSize(bytes, coder); declared.width >= 0)
        checkDimensions(fileName, size_t(declared.width), size_t(declared.height));
    {
        const ImageList header = decodeBlob(bytes, coder, true, !isIcon, fileName, stop);
        for (const MagickCore::Image* p = header.get(); p; p = MagickCore::GetNextImageInList(p))
            checkDimensions(fileName, p->columns, p->rows);
    }
    Magick::Image image =
        pickImage(decodeBlob(bytes, coder, false, !isIcon, fileName, stop), isIcon);
    image.quiet(true);
    checkDimensions(fileName, image.columns(), image.rows());
    if (std::strcmp(coder, "GIF") == 0)
        placeOnCanvas(image, fileName);
    const bool turnsSideways = image.orientation() >= MagickCore::LeftTopOrientation;
    image.autoOrient();
    const bool keepProfile = toStandardColours(image);
    throwIfStopped(stop);
    Picture picture = toPicture(image, keepProfile);
    if (std::strcmp(coder, "JPEG") == 0) {
        picture.jpegQuality = int(image.quality());
        noteJpegSampling(picture, image.attribute("jpeg:sampling-factor"), turnsSideways);
    }
    return picture;
}

// ---- encoding ---------------------------------------------------------------

struct TargetFormat {
    const char* suffix;
    const char* coder;
    bool hasAlpha;    // keeps transparency
    bool holds16Bits; // keeps 16-bit samples
    bool holdsIcc;    // carries a colour profile
};

// BMP3 is the plain Windows bitmap every reader knows; without alpha there is
// nothing the newer headers would add.
constexpr TargetFormat kTargets[] = {
    {"jpg", "JPEG", false, false, true},  {"jpeg", "JPEG", false, false, true},
    {"bmp", "BMP3", false, false, false}, {"gif", "GIF", true, false, false},
    {"pcx", "PCX", false, false, false},  {"png", "PNG", true, true, true},
    {"ico", "ICO", true, false, false},   {"tif", "TIFF", true, true, true},
    {"tiff", "TIFF", true, true, true},
};

const TargetFormat* targetFor(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const TargetFormat& target : kTargets)
        if (suffix == QLatin1String(target.suffix))
            return &target;
    return nullptr;
}

// GIF has one fully transparent palette entry and nothing in between: fully
// transparent pixels stay transparent (as one colour, white), partly
// transparent ones are blended onto white and become opaque.
template <typename Sample> void prepareGifAlpha(Sample* p, qsizetype pixelCount) {
    constexpr quint64 max = std::numeric_limits<Sample>::max();
    for (qsizetype i = 0; i < pixelCount; ++i, p += 4) {
        const quint64 alpha = p[3];
        if (alpha == 0) {
            p[0] = p[1] = p[2] = Sample(max);
        } else if (alpha != max) {
            for (int c = 0; c < 3; ++c)
                p[c] = Sample((p[c] * alpha + max * (max - alpha) + max / 2) / max);
            p[3] = Sample(max);
        }
    }
}

bool hasAtMostColours(const Picture& picture, int limit) {
    Q_ASSERT(picture.bitsPerSample == 8);
    const int channels = picture.channelCount();
    const auto* p = reinterpret_cast<const uchar*>(picture.pixels.constData());
    const qsizetype count = qsizetype(picture.width) * picture.height;
    std::unordered_set<quint32> seen;
    seen.reserve(size_t(limit) * 2);
    quint32 previous = 0;
    for (qsizetype i = 0; i < count; ++i, p += channels) {
        quint32 key = 0;
        for (int c = 0; c < channels; ++c)
            key = key << 8 | p[c];
        if (i > 0 && key == previous)
            continue;
        previous = key;
        seen.insert(key);
        if (seen.size() > size_t(limit))
            return false;
    }
    return true;
}

Magick::Image toMagickImage(const Picture& picture) {
    const char* map = picture.channels == Picture::Channels::Gray  ? "I"
                      : picture.channels == Picture::Channels::Rgb ? "RGB"
                                                                   : "RGBA";
    Magick::Image image(size_t(picture.width), size_t(picture.height), map,
                        picture.bitsPerSample == 16 ? MagickCore::ShortPixel
                                                    : MagickCore::CharPixel,
                        picture.pixels.constData());
    image.quiet(true);
    if (picture.channels == Picture::Channels::Gray) {
        image.modifyImage();
        MagickCore::SetImageColorspace(image.image(), MagickCore::GRAYColorspace);
    }
    return image;
}

void attachProfile(Magick::Image& image, const QByteArray& icc) {
    image.modifyImage();
    MagickCore::StringInfo* profile =
        MagickCore::BlobToStringInfo(icc.constData(), size_t(icc.size()));
    if (!profile)
        throw std::bad_alloc();
    MagickCore::SetImageProfile(image.image(), "icc", profile);
    MagickCore::DestroyStringInfo(profile);
}

// Whether the direct codecs are used where they give what the general path
// gives; the tests turn them off to compare the two.
std::atomic<bool> g_fastCodecs{true};

bool isAllGray(const Picture& p);

// A picture ImageMagick has reduced to its palette, written by the direct GIF
// encoder: ImageMagick's palette and its index for every pixel, only the file
// written faster. Null when the picture is not an opaque palette picture.
QByteArray encodeQuantizedGif(const Magick::Image& image, const std::stop_token& stop) {
    const MagickCore::Image* core = image.constImage();
    if (core->storage_class != MagickCore::PseudoClass || core->matte || core->colors < 1 ||
        core->colors > 256)
        return {};
    QByteArray palette(qsizetype(core->colors) * 3, Qt::Uninitialized);
    for (size_t i = 0; i < core->colors; ++i) {
        palette[qsizetype(i) * 3] = char(MagickCore::ScaleQuantumToChar(core->colormap[i].red));
        palette[qsizetype(i) * 3 + 1] =
            char(MagickCore::ScaleQuantumToChar(core->colormap[i].green));
        palette[qsizetype(i) * 3 + 2] =
            char(MagickCore::ScaleQuantumToChar(core->colormap[i].blue));
    }
    const qsizetype width = qsizetype(core->columns);
    QByteArray indexes(width * qsizetype(core->rows), Qt::Uninitialized);
    ExceptionPtr exception(MagickCore::AcquireExceptionInfo());
    auto* out = reinterpret_cast<uchar*>(indexes.data());
    for (ssize_t y = 0; y < ssize_t(core->rows); ++y) {
        if (!MagickCore::GetVirtualPixels(core, 0, y, core->columns, 1, exception.get()))
            return {};
        const MagickCore::IndexPacket* row = MagickCore::GetVirtualIndexQueue(core);
        if (!row)
            return {};
        for (qsizetype x = 0; x < width; ++x)
            *out++ = uchar(row[x]);
    }
    return fastcodec::encodeGif(int(core->columns), int(core->rows), palette, indexes, stop);
}

// ImageMagick's in-memory writer refuses a seek to the very end of its
// buffer, which is where libtiff puts its directory: an uncompressed TIFF
// whose pixels fill the buffer exactly (a 128 x 128 RGBA picture, say) fails
// with "IO error writing tag data". An unnamed temporary file seeks like any
// file; its name, if it has one, is never seen by ImageMagick.
QByteArray encodeThroughFile(Magick::Image& image, const char* coder) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
    if (!file)
        throw std::system_error(errno, std::generic_category(), "no temporary file");
    std::unique_ptr<MagickCore::ImageInfo, ImageInfoDeleter> info(
        MagickCore::CloneImageInfo(image.constImageInfo()));
    info->file = file.get();
    const std::string name = std::string(coder) + ':';
    MagickCore::CopyMagickString(info->magick, coder, MaxTextExtent);
    MagickCore::CopyMagickString(info->filename, name.c_str(), MaxTextExtent);
    image.modifyImage();
    MagickCore::CopyMagickString(image.image()->filename, name.c_str(), MaxTextExtent);
    const bool written =
        MagickCore::WriteImage(info.get(), image.image()) == MagickCore::MagickTrue;
    Magick::throwException(&image.image()->exception, image.quiet());
    if (!written || std::fflush(file.get()) != 0 || std::fseek(file.get(), 0, SEEK_END) != 0)
        throw std::runtime_error("the codec could not write its temporary file");
    const long size = std::ftell(file.get());
    if (size <= 0)
        throw std::runtime_error("the codec produced no data");
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    std::rewind(file.get());
    if (std::fread(bytes.data(), 1, size_t(size), file.get()) != size_t(size))
        throw std::runtime_error("the codec's temporary file could not be read back");
    return bytes;
}

QByteArray encodePicture(const Picture& source, const TargetFormat& target,
                         const std::stop_token& stop) {
    Picture picture = source;
    const bool gif = std::strcmp(target.coder, "GIF") == 0;
    if (gif && picture.hasAlpha()) {
        const qsizetype count = qsizetype(picture.width) * picture.height;
        if (picture.bitsPerSample == 16)
            prepareGifAlpha(reinterpret_cast<quint16*>(picture.pixels.data()), count);
        else
            prepareGifAlpha(reinterpret_cast<quint8*>(picture.pixels.data()), count);
    }
    // Icons hold at most 256 x 256; larger pictures are fitted keeping their
    // aspect. A photo is first averaged down in blocks to at least twice the
    // icon's size, which makes the filtered resize cheap and looks the same;
    // pictures with transparency take the filtered resize whole, as it
    // weights colours by their alpha.
    const bool icon = std::strcmp(target.coder, "ICO") == 0;
    size_t iconWidth = size_t(picture.width);
    size_t iconHeight = size_t(picture.height);
    if (icon && (picture.width > 256 || picture.height > 256)) {
        ssize_t x = 0;
        ssize_t y = 0;
        MagickCore::ParseMetaGeometry("256x256", &x, &y, &iconWidth, &iconHeight);
        const int blocks = std::max(picture.width, picture.height) / 512;
        if (!picture.hasAlpha() && blocks >= 2)
            picture = *scaledToFit(std::make_shared<const Picture>(picture), picture.width / blocks,
                                   picture.height / blocks);
    }
    Magick::Image image = toMagickImage(picture);
    watchStop(image, stop);
    image.depth(picture.bitsPerSample == 16 && target.holds16Bits ? 16 : 8);

    if (picture.hasAlpha() && !target.hasAlpha) {
        image.backgroundColor(Magick::Color("white"));
        image.alphaChannel(MagickCore::RemoveAlphaChannel);
        image.matte(false);
    }
    if (target.holdsIcc && !picture.iccProfile.isEmpty())
        attachProfile(image, picture.iccProfile);

    const QByteArray coder(target.coder);
    if (coder == "JPEG") {
        // The source JPEG's own quality when known, so re-encoding does not
        // bloat it; else ImageMagick's usual 92.
        image.quality(picture.jpegQuality > 0 ? size_t(picture.jpegQuality) : 92);
        // The source JPEG's colour sampling, as ImageMagick keeps it when it
        // re-encodes a JPEG; without one it decides by the quality. A gray
        // picture is written with one component, sampled 1 x 1.
        if (picture.jpegSamplingX > 0 && picture.jpegSamplingY > 0 && !isAllGray(picture))
            image.defineValue("jpeg", "sampling-factor",
                              QStringLiteral("%1x%2")
                                  .arg(picture.jpegSamplingX)
                                  .arg(picture.jpegSamplingY)
                                  .toStdString());
    } else if (coder == "PNG") {
        // zlib level 7 with adaptive row filters: ImageMagick's usual trade of
        // size against speed. No time stamps, so equal pictures give equal files.
        image.quality(75);
        image.defineValue("png", "exclude-chunk", "date,time");
    } else if (coder == "TIFF") {
        // Uncompressed, as ImageMagick writes a photo: read by every TIFF
        // reader at disk speed. LZW with the predictor saved a third on
        // camera photos but made their conversion three times as long.
        image.compressType(MagickCore::NoCompression);
    } else if (gif) {
        // Up to 256 colours map exactly; more are reduced with error diffusion.
        // Counting stops at the 257th colour, which a photo reaches at once;
        // ImageMagick's own count walks every pixel of it first.
        const bool exact = picture.bitsPerSample == 8 ? hasAtMostColours(picture, 256)
                                                      : image.totalColors() <= 256;
        image.quantizeColors(256);
        image.quantizeDither(!exact);
        if (!exact)
            image.quantizeDitherMethod(MagickCore::FloydSteinbergDitherMethod);
        image.quantize();
        throwIfStopped(stop);
        if (g_fastCodecs.load())
            if (QByteArray encoded = encodeQuantizedGif(image, stop); !encoded.isEmpty())
                return encoded;
    } else if (icon) {
        if (image.columns() != iconWidth || image.rows() != iconHeight) {
            Magick::Geometry size(iconWidth, iconHeight);
            size.aspect(true);
            image.resize(size);
            throwIfStopped(stop);
        }
    }

    if (coder == "TIFF")
        return encodeThroughFile(image, target.coder);
    Magick::Blob blob;
    image.write(&blob, target.coder);
    throwIfStopped(stop);
    if (blob.length() == 0)
        throw std::runtime_error("the codec produced no data");
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
}

bool isConsistent(const Picture& p) {
    return p.width > 0 && p.height > 0 && (p.bitsPerSample == 8 || p.bitsPerSample == 16) &&
           p.pixels.size() == p.bytesPerLine() * p.height;
}

// ---- the direct codecs ------------------------------------------------------

// ImageMagick's estimate of a JPEG's quality, from its quantisation tables.
// Reading the header only is cheap, and gives exactly the figure a full
// decode reports.
int magickJpegQuality(const QByteArray& bytes, const QString& fileName) {
    const std::stop_token headerOnly;
    const ImageList header = decodeBlob(bytes, "JPEG", true, true, fileName, headerOnly);
    return int(header->quality);
}

// The direct JPEG decode; null when the general path is to decide (a JPEG
// variant left to it, or damage the direct decoder gave up on: the general
// path then reports it in its own words, or reads what it can).
std::shared_ptr<Picture> decodeJpegDirectly(const QByteArray& bytes, const QString& fileName,
                                            int boxWidth, int boxHeight,
                                            const std::stop_token& stop) {
    std::optional<Picture> picture;
    try {
        picture = fastcodec::decodeJpeg(
            bytes,
            [&](qint64 width, qint64 height) {
                checkDimensions(fileName, size_t(width), size_t(height));
            },
            boxWidth, boxHeight, stop);
    } catch (const fastcodec::CodecError&) {
        return nullptr;
    }
    if (!picture)
        return nullptr;
    return std::make_shared<Picture>(std::move(*picture));
}

PictureObject loadPicture(const QString& fileName, int boxWidth, int boxHeight,
                          const std::stop_token& stop) {
    const QString notReady = prepareMagick();
    if (!notReady.isEmpty())
        fail(FailureKind::NotAPicture, fileName, notReady);
    const QByteArray bytes = readPictureBytes(fileName);
    const char* coder = coderForContent(bytes);
    if (!coder)
        fail(FailureKind::NotAPicture, fileName,
             QStringLiteral("the content is not a picture format we read"));
    checkDeclaredAgainstData(fileName, bytes, coder);
    try {
        if (std::strcmp(coder, "JPEG") == 0 && g_fastCodecs.load()) {
            if (std::shared_ptr<Picture> picture =
                    decodeJpegDirectly(bytes, fileName, boxWidth, boxHeight, stop)) {
                // A preview is only looked at; the quality matters for writing.
                if (boxWidth <= 0)
                    picture->jpegQuality = magickJpegQuality(bytes, fileName);
                return picture;
            }
        }
        return std::make_shared<const Picture>(decodePicture(bytes, coder, fileName, stop));
    } catch (const PlatformError&) {
        throw;
    } catch (const Magick::Exception& e) {
        const QString message = QString::fromLocal8Bit(e.what());
        fail(isLimitMessage(message) ? FailureKind::PictureTooLarge : FailureKind::NotAPicture,
             fileName, message);
    } catch (const std::bad_alloc&) {
        fail(FailureKind::PictureTooLarge, fileName, QStringLiteral("out of memory"));
    } catch (const std::exception& e) {
        fail(FailureKind::NotAPicture, fileName, QString::fromLocal8Bit(e.what()));
    }
}

// Whether every pixel of an RGB(A) picture is gray (alpha aside).
template <typename Sample> bool allGray(const Picture& p) {
    const auto* s = reinterpret_cast<const Sample*>(p.pixels.constData());
    const qsizetype count = qsizetype(p.width) * p.height;
    const int step = p.channelCount();
    for (qsizetype i = 0; i < count; ++i, s += step)
        if (s[0] != s[1] || s[1] != s[2])
            return false;
    return true;
}

bool isAllGray(const Picture& p) {
    if (p.channels == Picture::Channels::Gray)
        return true;
    return p.bitsPerSample == 16 ? allGray<quint16>(p) : allGray<quint8>(p);
}

// The gray samples of an RGB picture whose pixels are all gray.
Picture grayOf(const Picture& p) {
    Picture gray = p;
    gray.channels = Picture::Channels::Gray;
    const int bytes = p.bitsPerSample / 8;
    gray.pixels = QByteArray(gray.bytesPerLine() * gray.height, Qt::Uninitialized);
    const qsizetype count = qsizetype(p.width) * p.height;
    const char* src = p.pixels.constData();
    char* dst = gray.pixels.data();
    for (qsizetype i = 0; i < count; ++i)
        std::memcpy(dst + i * bytes, src + i * 3 * bytes, size_t(bytes));
    return gray;
}

// Whether an 8-bit RGB(A) picture has more than 256 colours: ImageMagick
// writes those with fewer as palette PNGs, which the general path keeps doing.
bool hasManyColours(const Picture& p) {
    constexpr int kSlots = 1024;
    quint32 values[kSlots];
    bool used[kSlots] = {};
    int distinct = 0;
    const int step = p.channelCount();
    const auto* s = reinterpret_cast<const uchar*>(p.pixels.constData());
    const qsizetype count = qsizetype(p.width) * p.height;
    for (qsizetype i = 0; i < count; ++i, s += step) {
        const quint32 v = quint32(s[0]) | quint32(s[1]) << 8 | quint32(s[2]) << 16 |
                          (step == 4 ? quint32(s[3]) << 24 : 0u);
        quint32 at = (v * 2654435761u) >> 22;
        while (used[at] && values[at] != v)
            at = (at + 1) % kSlots;
        if (!used[at]) {
            used[at] = true;
            values[at] = v;
            if (++distinct > 256)
                return true;
        }
    }
    return false;
}

// Whether some pixel is partly transparent, which only a full RGBA PNG holds.
bool hasPartialAlpha(const Picture& p) {
    const auto* s = reinterpret_cast<const uchar*>(p.pixels.constData()) + 3;
    const qsizetype count = qsizetype(p.width) * p.height;
    for (qsizetype i = 0; i < count; ++i, s += 4)
        if (*s != 0 && *s != 255)
            return true;
    return false;
}

// The picture encoded by a direct codec, or a null array when the target or
// the picture is left to the general path. Only the cases where the direct
// codec gives what the general path gives are taken.
QByteArray encodeDirectly(const Picture& picture, const TargetFormat& target,
                          const std::stop_token& stop) {
    const QByteArray coder(target.coder);
    if (coder == "BMP3")
        return fastcodec::encodeBmp(fastcodec::flattenedEightBit(picture));
    if (coder == "PCX")
        return fastcodec::encodePcx(fastcodec::flattenedEightBit(picture));
    if (coder == "JPEG") {
        // A gray picture is written with one component.
        Picture flat = fastcodec::flattenedEightBit(picture);
        if (flat.channels == Picture::Channels::Rgb && isAllGray(flat))
            flat = grayOf(flat);
        return fastcodec::encodeJpeg(flat, picture.jpegQuality > 0 ? picture.jpegQuality : 92,
                                     stop);
    }
    if (coder == "PNG") {
        if (picture.bitsPerSample != 8 || !picture.iccProfile.isEmpty() ||
            picture.channels == Picture::Channels::Gray || !hasManyColours(picture) ||
            (picture.hasAlpha() && !hasPartialAlpha(picture)))
            return {};
        return fastcodec::encodePng(picture, stop);
    }
    if (coder == "TIFF") {
        if (picture.channels == Picture::Channels::Rgb && isAllGray(picture))
            return fastcodec::encodeTiff(grayOf(picture));
        if (picture.hasAlpha() && isAllGray(picture))
            return {};
        return fastcodec::encodeTiff(picture);
    }
    return {};
}

} // namespace

namespace fastcodec {

void setFastCodecsEnabled(bool enabled) {
    g_fastCodecs.store(enabled);
}

Picture flattenedEightBit(const Picture& picture) {
    if (picture.bitsPerSample == 8 && !picture.hasAlpha())
        return picture;
    Picture out = picture;
    out.bitsPerSample = 8;
    out.channels = picture.hasAlpha() ? Picture::Channels::Rgb : picture.channels;
    const int inChannels = picture.channelCount();
    const int outChannels = out.channelCount();
    out.pixels = QByteArray(out.bytesPerLine() * out.height, Qt::Uninitialized);
    const qsizetype count = qsizetype(picture.width) * picture.height;
    auto* dst = reinterpret_cast<uchar*>(out.pixels.data());
    // Over white at 16 bits, as ImageMagick's quantum arithmetic does it,
    // then down to 8 bits.
    auto blend = [](double value, double alpha) {
        const double a = alpha / 65535.0;
        return fastcodec::eightBits(quint16(a * value + (1.0 - a) * 65535.0 + 0.5));
    };
    if (picture.bitsPerSample == 8) {
        // Every 8-bit sample and alpha pair, computed once.
        std::vector<uchar> table(256 * 256);
        for (int a = 0; a < 256; ++a)
            for (int v = 0; v < 256; ++v)
                table[size_t(a) * 256 + size_t(v)] = blend(v * 257.0, a * 257.0);
        const auto* src = reinterpret_cast<const uchar*>(picture.pixels.constData());
        for (qsizetype i = 0; i < count; ++i, src += 4, dst += 3) {
            const uchar* row = table.data() + size_t(src[3]) * 256;
            dst[0] = row[src[0]];
            dst[1] = row[src[1]];
            dst[2] = row[src[2]];
        }
        return out;
    }
    const auto* src = reinterpret_cast<const quint16*>(picture.pixels.constData());
    for (qsizetype i = 0; i < count; ++i, src += inChannels, dst += outChannels) {
        if (picture.hasAlpha()) {
            for (int c = 0; c < 3; ++c)
                dst[c] = blend(src[c], src[3]);
        } else {
            for (int c = 0; c < outChannels; ++c)
                dst[c] = fastcodec::eightBits(src[c]);
        }
    }
    return out;
}

} // namespace fastcodec

PictureObject loadPictureFile(const QString& fileName, std::stop_token stop) {
    return loadPicture(fileName, 0, 0, stop);
}

PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight) {
    const std::stop_token never;
    return loadPicture(fileName, std::max(boxWidth, 1), std::max(boxHeight, 1), never);
}

void savePictureFile(const Picture& picture, const QString& fileName) {
    preparePictureFile(picture, fileName)->commit();
}

std::unique_ptr<PreparedPicture> preparePictureFile(const Picture& picture, const QString& fileName,
                                                    std::stop_token stop) {
    const QString notReady = prepareMagick();
    if (!notReady.isEmpty())
        fail(FailureKind::CannotWrite, fileName, notReady);
    const TargetFormat* target = targetFor(fileName);
    if (!target)
        fail(FailureKind::CannotWrite, fileName,
             QStringLiteral("the extension names no format we write"));
    if (!isConsistent(picture))
        fail(FailureKind::CannotWrite, fileName, QStringLiteral("the picture holds no pixels"));
    checkReplaceable(fileName);
    QByteArray encoded;
    try {
        if (g_fastCodecs.load())
            encoded = encodeDirectly(picture, *target, stop);
        if (encoded.isNull())
            encoded = encodePicture(picture, *target, stop);
    } catch (const PlatformError&) {
        throw;
    } catch (const std::exception& e) {
        fail(FailureKind::CannotWrite, fileName, QString::fromLocal8Bit(e.what()));
    }
    throwIfStopped(stop);
    return prepareOutputFile(encoded, fileName);
}
