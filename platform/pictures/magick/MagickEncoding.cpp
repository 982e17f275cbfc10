// SPDX-License-Identifier: MIT
#include "magick/MagickEncoding.h"

#include "magick/MagickSupport.h"
#include "pixels/PictureScaling.h"
#include "pixels/PixelChecks.h"
#include "pixels/PixelConversions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

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

void attachProfile(Magick::Image& image, const char* name, const QByteArray& data) {
    if (data.isEmpty())
        return;
    image.modifyImage();
    MagickCore::StringInfo* profile =
        MagickCore::BlobToStringInfo(data.constData(), size_t(data.size()));
    if (!profile)
        throw std::bad_alloc();
    MagickCore::SetImageProfile(image.image(), name, profile);
    MagickCore::DestroyStringInfo(profile);
}

// Up to 256 colours map exactly; more are reduced with error diffusion.
// Counting stops at the 257th colour, which a photo reaches at once;
// ImageMagick's own count walks every pixel of it first.
void quantizeForGif(Magick::Image& image, const Picture& picture, const std::stop_token& stop) {
    const bool exact =
        picture.bitsPerSample == 8 ? !hasMoreColoursThan(picture, 256) : image.totalColors() <= 256;
    image.quantizeColors(256);
    image.quantizeDither(!exact);
    if (!exact)
        image.quantizeDitherMethod(MagickCore::FloydSteinbergDitherMethod);
    image.quantize();
    throwIfStopped(stop);
}

// An icon of up to 256 colours whose pixels are opaque or fully transparent
// is written with a palette and the transparency in its mask (at 256 x 256 a
// PNG entry, a palette PNG when opaque, its writer's RGBA otherwise):
// ImageMagick's icon writer does that for a picture that has its colours
// mapped. Fully transparent pixels count as one colour, as
// the mask keeps no colour for them. Partial alpha keeps the 32-bit entry.
void mapIconColours(Magick::Image& image, const std::stop_token& stop) {
    Picture rendered;
    rendered.width = int(image.columns());
    rendered.height = int(image.rows());
    rendered.channels = Picture::Channels::Rgba;
    rendered.pixels.resize(rendered.bytesPerLine() * rendered.height);
    image.write(0, 0, image.columns(), image.rows(), "RGBA", MagickCore::CharPixel,
                rendered.pixels.data());
    auto* p = reinterpret_cast<uchar*>(rendered.pixels.data());
    for (qsizetype i = 0; i < rendered.pixels.size(); i += 4)
        if (p[i + 3] == 0)
            p[i] = p[i + 1] = p[i + 2] = 0;
    if (hasPartialAlpha(rendered) || hasMoreColoursThan(rendered, 256))
        return;
    image.quantizeColors(256);
    image.quantizeDither(false);
    image.quantize();
    // The quantizer marks a picture of grays as gray, and the icon writer
    // would then convert it back to direct colour; the palette's samples are
    // the same in sRGB.
    if (image.colorSpace() == MagickCore::GRAYColorspace) {
        image.modifyImage();
        MagickCore::SetImageColorspace(image.image(), MagickCore::sRGBColorspace);
    }
    throwIfStopped(stop);
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

} // namespace

QByteArray encodeWithMagick(const Picture& source, TargetFormat format,
                            const std::stop_token& stop) {
    const TargetFormatInfo& target = infoOf(format);
    Picture picture = source;
    const bool gif = format == TargetFormat::Gif;
    if (gif)
        prepareGifAlpha(picture);
    // Icons hold at most 256 x 256; larger pictures are fitted keeping their
    // aspect. A photo is first averaged down in blocks to at least twice the
    // icon's size, which makes the filtered resize cheap and looks the same;
    // pictures with transparency take the filtered resize whole, as it
    // weights colours by their alpha.
    const bool icon = format == TargetFormat::Ico;
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

    if (picture.hasAlpha() && !target.keepsAlpha) {
        image.backgroundColor(Magick::Color("white"));
        image.alphaChannel(MagickCore::RemoveAlphaChannel);
        image.matte(false);
    }
    if (target.holdsIcc)
        attachProfile(image, "icc", picture.iccProfile);
    // JPG and PNG get their metadata from our own writer (see encodePicture);
    // a TIFF written here carries the XMP and the IPTC's Photoshop resources.
    if (format == TargetFormat::Tiff) {
        attachProfile(image, "xmp", picture.metadata.xmp);
        attachProfile(image, "8bim", picture.metadata.photoshop);
    }

    if (format == TargetFormat::Jpg) {
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
    } else if (format == TargetFormat::Png) {
        // zlib level 7 with adaptive row filters: ImageMagick's usual trade of
        // size against speed. No time stamps, so equal pictures give equal files.
        image.quality(75);
        image.defineValue("png", "exclude-chunk", "date,time");
    } else if (format == TargetFormat::Tiff) {
        // Uncompressed, as ImageMagick writes a photo: read by every TIFF
        // reader at disk speed. LZW with the predictor saved a third on
        // camera photos but made their conversion three times as long.
        // Pictures of few colours (gray with alpha comes here) compress
        // far better and at once.
        const bool fewColours = picture.bitsPerSample == 8 && !hasMoreColoursThan(picture, 256);
        image.compressType(fewColours ? MagickCore::ZipCompression : MagickCore::NoCompression);
    } else if (gif) {
        quantizeForGif(image, picture, stop);
    } else if (icon) {
        if (image.columns() != iconWidth || image.rows() != iconHeight) {
            Magick::Geometry size(iconWidth, iconHeight);
            size.aspect(true);
            image.resize(size);
            throwIfStopped(stop);
        }
        mapIconColours(image, stop);
    }

    if (format == TargetFormat::Tiff)
        return encodeThroughFile(image, target.magickCoder);
    Magick::Blob blob;
    image.write(&blob, target.magickCoder);
    throwIfStopped(stop);
    if (blob.length() == 0)
        throw std::runtime_error("the codec produced no data");
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
}

std::optional<PalettePicture> reduceColoursWithMagick(const Picture& source,
                                                      const std::stop_token& stop) {
    Picture picture = source;
    prepareGifAlpha(picture);
    Magick::Image image = toMagickImage(picture);
    watchStop(image, stop);
    image.depth(8);
    quantizeForGif(image, picture, stop);
    const MagickCore::Image* core = image.constImage();
    if (core->storage_class != MagickCore::PseudoClass || core->matte || core->colors < 1 ||
        core->colors > 256)
        return std::nullopt;
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
            return std::nullopt;
        const MagickCore::IndexPacket* row = MagickCore::GetVirtualIndexQueue(core);
        if (!row)
            return std::nullopt;
        for (qsizetype x = 0; x < width; ++x)
            *out++ = uchar(row[x]);
    }
    return PalettePicture{int(core->columns), int(core->rows), palette, indexes, -1};
}
