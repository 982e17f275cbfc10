// SPDX-License-Identifier: MIT
// JPEG through libjpeg-turbo directly: decoding (optionally scaled for
// previews) and encoding with the settings the general path uses.
#include "formats/DirectCodecs.h"
#include "metadata/ExifBlocks.h"
#include "system/SystemMemory.h"

#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace directcodec {
namespace {

// Tolerated "corrupt data" warnings per picture, as many as ImageMagick takes
// before it gives up.
constexpr long kMaxWarnings = 1000;

// libjpeg's own handler would exit(); ours turns an error into an exception.
// libjpeg-turbo is built with unwind tables, so the exception passes its frames.
struct ErrorManager {
    jpeg_error_mgr pub;
    long warnings = 0;
};

[[noreturn]] void throwError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    throw CodecError(message);
}

void countWarning(j_common_ptr cinfo, int level) {
    // Level -1 is a warning about damaged data (say, a truncated file): the
    // decoder carries on with what it has, like ImageMagick.
    if (level < 0) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        if (++err->warnings > kMaxWarnings)
            throwError(cinfo);
    }
}

void installErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = throwError;
    err.pub.emit_message = countWarning;
}

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    Decompressor() {
        installErrorManager(err);
        cinfo.err = &err.pub;
        jpeg_create_decompress(&cinfo);
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

struct Compressor {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Compressor() {
        installErrorManager(err);
        cinfo.err = &err.pub;
        jpeg_create_compress(&cinfo);
    }
    ~Compressor() {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

// Where each output pixel comes from, for the eight EXIF orientations.
// (x, y) is the output position; w, h the stored picture's size.
struct SourcePosition {
    qsizetype x, y;
};
SourcePosition sourceOf(int orientation, qsizetype x, qsizetype y, qsizetype w, qsizetype h) {
    switch (orientation) {
    case 2:
        return {w - 1 - x, y}; // mirrored
    case 3:
        return {w - 1 - x, h - 1 - y}; // half turn
    case 4:
        return {x, h - 1 - y}; // upside down mirror
    case 5:
        return {y, x}; // transposed
    case 6:
        return {y, h - 1 - x}; // stored a quarter turn anticlockwise
    case 7:
        return {w - 1 - y, h - 1 - x}; // transverse
    case 8:
        return {w - 1 - y, x}; // stored a quarter turn clockwise
    default:
        return {x, y};
    }
}

// libjpeg takes up to 16 rows a call: points rows at the picture's lines from
// `first` on and says how many.
constexpr JDIMENSION kRowsPerCall = 16;
JDIMENSION pointRows(JSAMPLE* base, qsizetype line, JDIMENSION first, JDIMENSION height,
                     JSAMPROW (&rows)[kRowsPerCall]) {
    const JDIMENSION n = std::min(kRowsPerCall, height - first);
    for (JDIMENSION i = 0; i < n; ++i)
        rows[i] = base + qsizetype(first + i) * line;
    return n;
}

} // namespace

Picture orient(const Picture& picture, int orientation) {
    if (orientation < 2 || orientation > 8)
        return picture;
    const qsizetype w = picture.width;
    const qsizetype h = picture.height;
    const bool swaps = orientation >= 5;
    Picture out = picture;
    out.width = int(swaps ? h : w);
    out.height = int(swaps ? w : h);
    out.pixels = QByteArray(picture.pixels.size(), Qt::Uninitialized);
    prepareForWriting(out.pixels.data(), out.pixels.size());
    const int pixelBytes = picture.channelCount() * (picture.bitsPerSample / 8);
    const char* src = picture.pixels.constData();
    const qsizetype srcLine = picture.bytesPerLine();
    char* dst = out.pixels.data();
    for (qsizetype y = 0; y < out.height; ++y) {
        char* row = dst + y * out.bytesPerLine();
        for (qsizetype x = 0; x < out.width; ++x) {
            const SourcePosition s = sourceOf(orientation, x, y, w, h);
            std::memcpy(row + x * pixelBytes, src + s.y * srcLine + s.x * pixelBytes,
                        size_t(pixelBytes));
        }
    }
    return out;
}

std::optional<Picture> decodeJpeg(const QByteArray& bytes, const SizeCheck& check, int boxWidth,
                                  int boxHeight, std::stop_token stop, long* warnings) {
    Decompressor d;
    jpeg_decompress_struct& cinfo = d.cinfo;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        throw CodecError("no JPEG picture");

    // Anything but plain 8-bit gray or colour goes the general way, which
    // converts CMYK and knows the rarer variants.
    const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.num_components == 1;
    const bool colour =
        (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB) &&
        cinfo.num_components == 3;
    if (cinfo.data_precision != 8 || !(gray || colour))
        return std::nullopt;
    check(cinfo.image_width, cinfo.image_height);

    int orientation = 1;
    Picture picture;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && orientation == 1) {
            const QByteArray payload = QByteArray::fromRawData(
                reinterpret_cast<const char*>(m->data), qsizetype(m->data_length));
            const QByteArray prefix("Exif\0\0", 6);
            if (payload.startsWith(prefix)) {
                orientation = exif::orientationOf(QByteArray::fromRawData(
                    payload.constData() + prefix.size(), payload.size() - prefix.size()));
                break;
            }
        }
    }
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&cinfo, &icc, &iccLength) && icc) {
        picture.iccProfile = QByteArray(reinterpret_cast<const char*>(icc), qsizetype(iccLength));
        std::free(icc);
    }

    cinfo.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    // The inverse DCT and upsampling ImageMagick asks libjpeg for, so both
    // paths give the very same samples.
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    if (boxWidth > 0 && boxHeight > 0) {
        const bool swaps = orientation >= 5;
        for (unsigned int denom : {8u, 4u, 2u, 1u}) {
            cinfo.scale_num = 1;
            cinfo.scale_denom = denom;
            jpeg_calc_output_dimensions(&cinfo);
            const JDIMENSION w = swaps ? cinfo.output_height : cinfo.output_width;
            const JDIMENSION h = swaps ? cinfo.output_width : cinfo.output_height;
            if (denom == 1 || (w >= JDIMENSION(boxWidth) && h >= JDIMENSION(boxHeight)))
                break;
        }
    }
    // The sampling is read now: finishing frees the component table.
    if (colour && cinfo.comp_info[1].h_samp_factor == 1 && cinfo.comp_info[1].v_samp_factor == 1 &&
        cinfo.comp_info[2].h_samp_factor == 1 && cinfo.comp_info[2].v_samp_factor == 1) {
        const bool swaps = orientation >= 5;
        picture.jpegSamplingX =
            swaps ? cinfo.comp_info[0].v_samp_factor : cinfo.comp_info[0].h_samp_factor;
        picture.jpegSamplingY =
            swaps ? cinfo.comp_info[0].h_samp_factor : cinfo.comp_info[0].v_samp_factor;
    }
    jpeg_start_decompress(&cinfo);

    picture.width = int(cinfo.output_width);
    picture.height = int(cinfo.output_height);
    picture.channels = gray ? Picture::Channels::Gray : Picture::Channels::Rgb;
    picture.bitsPerSample = 8;
    picture.pixels = QByteArray(picture.bytesPerLine() * picture.height, Qt::Uninitialized);
    prepareForWriting(picture.pixels.data(), picture.pixels.size());
    const qsizetype line = picture.bytesPerLine();
    auto* base = reinterpret_cast<JSAMPLE*>(picture.pixels.data());
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION n =
            pointRows(base, line, cinfo.output_scanline, cinfo.output_height, rows);
        if (jpeg_read_scanlines(&cinfo, rows, n) == 0)
            throw CodecError("the JPEG decoder made no progress");
        throwIfStopped(stop);
    }
    jpeg_finish_decompress(&cinfo);
    if (warnings)
        *warnings = d.err.warnings;
    if (orientation != 1)
        return orient(picture, orientation);
    return picture;
}

QByteArray encodeJpeg(const Picture& picture, int quality, std::stop_token stop) {
    const bool gray = picture.channels == Picture::Channels::Gray;
    if (picture.bitsPerSample != 8 || picture.hasAlpha())
        throw CodecError("the JPEG encoder takes 8-bit gray or RGB");
    Compressor c;
    jpeg_compress_struct& cinfo = c.cinfo;
    jpeg_mem_dest(&cinfo, &c.buffer, &c.size);
    cinfo.image_width = JDIMENSION(picture.width);
    cinfo.image_height = JDIMENSION(picture.height);
    cinfo.input_components = gray ? 1 : 3;
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (!gray) {
        const bool fromJpeg = picture.jpegSamplingX > 0 && picture.jpegSamplingY > 0;
        const int factor = quality >= 90 ? 1 : 2;
        cinfo.comp_info[0].h_samp_factor = fromJpeg ? picture.jpegSamplingX : factor;
        cinfo.comp_info[0].v_samp_factor = fromJpeg ? picture.jpegSamplingY : factor;
        for (int i = 1; i < 3; ++i)
            cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.optimize_coding = TRUE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&cinfo, TRUE);
    if (!picture.iccProfile.isEmpty())
        jpeg_write_icc_profile(&cinfo,
                               reinterpret_cast<const JOCTET*>(picture.iccProfile.constData()),
                               static_cast<unsigned int>(picture.iccProfile.size()));
    const qsizetype line = picture.bytesPerLine();
    auto* base = reinterpret_cast<JSAMPLE*>(const_cast<char*>(picture.pixels.constData()));
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION n = pointRows(base, line, cinfo.next_scanline, cinfo.image_height, rows);
        jpeg_write_scanlines(&cinfo, rows, n);
        throwIfStopped(stop);
    }
    jpeg_finish_compress(&cinfo);
    return QByteArray(reinterpret_cast<const char*>(c.buffer), qsizetype(c.size));
}

} // namespace directcodec
