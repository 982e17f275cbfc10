// SPDX-License-Identifier: MIT
// PNG sources through libpng directly, rows read straight into the picture.
// The picture is the one ImageMagick's reader gives; the files it treats in a
// way of its own (linear light, colour profiles hidden in text, orientation)
// are left to it.
#include "formats/DirectCodecs.h"
#include "metadata/ExifBlocks.h"

#include <png.h>

#include <QSysInfo>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace directcodec {
namespace {

// libpng must not return from its error handler; it is built with unwind
// tables, so an exception may pass its frames.
[[noreturn]] void throwError(png_structp, png_const_charp message) {
    throw CodecError(message);
}
void ignoreWarning(png_structp, png_const_charp) {}

struct Input {
    const png_byte* data;
    size_t size;
    size_t at = 0;
};

void readInput(png_structp png, png_bytep out, size_t length) {
    auto* in = static_cast<Input*>(png_get_io_ptr(png));
    if (length > in->size - in->at)
        png_error(png, "the PNG data ends early");
    std::memcpy(out, in->data + in->at, length);
    in->at += length;
}

// ImageMagick's readers that know the orNT chunk turn the picture by it.
int noteOrientationChunk(png_structp png, png_unknown_chunkp chunk) {
    if (std::memcmp(chunk->name, "orNT", 4) == 0)
        *static_cast<bool*>(png_get_user_chunk_ptr(png)) = true;
    return 0;
}

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_infop end = nullptr;
    Reader() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, throwError, ignoreWarning);
        if (png) {
            info = png_create_info_struct(png);
            end = png_create_info_struct(png);
        }
        if (!png || !info || !end) {
            png_destroy_read_struct(&png, &info, &end);
            throw std::bad_alloc();
        }
    }
    ~Reader() { png_destroy_read_struct(&png, &info, &end); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
};

// libpng set up as ImageMagick sets it up, so both accept and refuse the same
// files: damage in ancillary chunks passed over, the chunks it ignores left
// unread, no index check against the palette (ours is below).
void configureLikeGeneralPath(png_structp png, bool* orientationChunk) {
    png_set_benign_errors(png, 1);
    png_set_chunk_cache_max(png, 32767);
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    static const png_byte ignored[] = "hIST\0iTXt\0pCAL\0sCAL\0sPLT";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, ignored, 5);
    png_set_read_user_chunk_fn(png, orientationChunk, noteOrientationChunk);
    png_set_check_for_invalid_index(png, 0);
}

// ImageMagick takes a gamma above 0.75, or one other than about 1/2.2 with
// primaries other than sRGB's, for linear light and converts the samples; a
// PNG with either a gamma other than about 1/2.2 or such primaries is left
// to it.
bool isStandardLight(png_structp png, png_infop info) {
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) && !(gamma > .45 && gamma < .46))
        return false;
    double wx, wy, rx, ry, gx, gy, bx, by;
    if (png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        auto near = [](double v, double target) { return v > target - 1e-4 && v < target + 1e-4; };
        return near(rx, .64) && near(ry, .33) && near(gx, .30) && near(gy, .60) && near(bx, .15) &&
               near(by, .06) && near(wx, .3127) && near(wy, .3290);
    }
    return true;
}

// Text that ImageMagick reads as more than text: a profile ("Raw profile type
// icc", an EXIF block that may turn the picture), a colour space, or an
// orientation.
bool hasTextReadAsSettings(png_structp png, png_infop info) {
    png_textp text = nullptr;
    int count = 0;
    png_get_text(png, info, &text, &count);
    for (int i = 0; i < count; ++i) {
        const QByteArray key = QByteArray(text[i].key).toLower();
        if (key.startsWith("raw profile type ") || key == "colorspace" ||
            key == "exif:orientation" || key == "tiff:orientation")
            return true;
    }
    return false;
}

// An EXIF orientation other than 1: left to the general path, which decides
// whether to turn the picture (ImageMagick 6.9.11 does not for a PNG).
bool hasTurningExif(png_structp png, png_infop info) {
    png_uint_32 length = 0;
    png_bytep exif = nullptr;
    if (!png_get_eXIf_1(png, info, &length, &exif) || !exif)
        return false;
    return exif::orientationOf(QByteArray::fromRawData(reinterpret_cast<const char*>(exif),
                                                       qsizetype(length))) != 1;
}

// ImageMagick drops an iCCP profile it knows as one of the common sRGB
// profiles (by length and checksum); only profiles of those lengths may be.
bool mayBeDroppedProfile(png_uint_32 length) {
    constexpr std::array<png_uint_32, 8> lengths{524, 3024, 3048, 3052, 3144, 3212, 60960, 60988};
    return std::find(lengths.begin(), lengths.end(), length) != lengths.end();
}

// ImageMagick ignores a tRNS colour with a sample beyond the bit depth.
void dropOutOfRangeTransparency(png_structp png, png_infop info, int colourType, int depth) {
    png_bytep alphas = nullptr;
    int count = 0;
    png_color_16p colour = nullptr;
    if (!png_get_tRNS(png, info, &alphas, &count, &colour) || !colour || depth == 16)
        return;
    const int max = (1 << depth) - 1;
    if ((colourType == PNG_COLOR_TYPE_GRAY && colour->gray > max) ||
        (colourType == PNG_COLOR_TYPE_RGB &&
         (colour->red > max || colour->green > max || colour->blue > max))) {
        png_free_data(png, info, PNG_FREE_TRNS, 0);
        png_set_invalid(png, info, PNG_INFO_tRNS);
    }
}

// A palette's colours as three or four bytes an entry; entries past the
// palette are marked so a picture using them goes to the general path.
struct Palette {
    std::array<png_byte, 256 * 4> colours{};
    int count = 0;
    int bytes = 3;
};

Palette paletteOf(png_structp png, png_infop info, bool alpha) {
    Palette palette;
    palette.bytes = alpha ? 4 : 3;
    png_colorp entries = nullptr;
    png_get_PLTE(png, info, &entries, &palette.count);
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    png_color_16p unused = nullptr;
    if (alpha)
        png_get_tRNS(png, info, &alphas, &alphaCount, &unused);
    for (int i = 0; i < palette.count; ++i) {
        png_byte* c = palette.colours.data() + i * palette.bytes;
        c[0] = entries[i].red;
        c[1] = entries[i].green;
        c[2] = entries[i].blue;
        if (alpha)
            c[3] = i < alphaCount ? alphas[i] : 255;
    }
    return palette;
}

// Expands a row of indexes; false when one is past the palette.
bool expandRow(const Palette& palette, const png_byte* indexes, png_byte* out, int width) {
    png_byte highest = 0;
    for (int x = 0; x < width; ++x) {
        highest = std::max(highest, indexes[x]);
        std::memcpy(out + x * palette.bytes, palette.colours.data() + indexes[x] * palette.bytes,
                    size_t(palette.bytes));
    }
    return highest < palette.count;
}

} // namespace

std::optional<Picture> decodePng(const QByteArray& bytes, const SizeCheck& check,
                                 const ProfileCheck& keepsProfile, std::stop_token stop) {
    Reader r;
    png_structp png = r.png;
    Input input{reinterpret_cast<const png_byte*>(bytes.constData()), size_t(bytes.size())};
    png_set_read_fn(png, &input, readInput);
    bool orientationChunk = false;
    configureLikeGeneralPath(png, &orientationChunk);
    png_read_info(png, r.info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, r.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (orientationChunk || !isStandardLight(png, r.info) || hasTextReadAsSettings(png, r.info) ||
        hasTurningExif(png, r.info))
        return std::nullopt;
    check(width, height);
    Picture picture;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, r.info, &name, &compression, &profile, &profileLength) &&
        profileLength > 0) {
        picture.iccProfile =
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(profileLength));
        if (mayBeDroppedProfile(profileLength)) {
            if (!keepsProfile)
                return std::nullopt;
            if (!keepsProfile(picture.iccProfile))
                picture.iccProfile.clear();
        }
    }

    // ImageMagick's reading: alpha from the colour type or a tRNS chunk makes
    // RGBA, gray stays gray, a palette becomes RGB; 16-bit samples stay 16-bit,
    // fewer bits are widened to 8.
    dropOutOfRangeTransparency(png, r.info, colourType, depth);
    const bool transparency = png_get_valid(png, r.info, PNG_INFO_tRNS) != 0;
    const bool alpha = transparency || (colourType & PNG_COLOR_MASK_ALPHA);
    const bool gray = !(colourType & PNG_COLOR_MASK_COLOR);
    const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE;
    picture.width = int(width);
    picture.height = int(height);
    picture.bitsPerSample = depth == 16 ? 16 : 8;
    picture.channels = alpha  ? Picture::Channels::Rgba
                       : gray ? Picture::Channels::Gray
                              : Picture::Channels::Rgb;
    if (depth < 8)
        png_set_packing(png);
    if (gray && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (transparency && !indexed)
        png_set_tRNS_to_alpha(png);
    if (gray && alpha)
        png_set_gray_to_rgb(png);
    if (depth == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        png_set_swap(png); // PNG stores 16-bit samples big-endian
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, r.info);
    const qsizetype line = picture.bytesPerLine();
    // Rows are read in place: libpng's row must be the picture's (or, for a
    // palette, one index a pixel).
    if (png_get_rowbytes(png, r.info) != (indexed ? size_t(width) : size_t(line)))
        return std::nullopt;

    picture.pixels = QByteArray(line * picture.height, Qt::Uninitialized);
    auto* base = reinterpret_cast<png_bytep>(picture.pixels.data());
    Palette palette;
    std::vector<png_byte> indexes;
    if (indexed) {
        palette = paletteOf(png, r.info, alpha);
        indexes.resize(size_t(width) * (passes > 1 ? height : 1));
    }
    bool indexesValid = true;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            if (!indexed) {
                png_read_row(png, base + qsizetype(y) * line, nullptr);
            } else {
                png_byte* row = indexes.data() + (passes > 1 ? size_t(y) * width : 0);
                png_read_row(png, row, nullptr);
                if (pass == passes - 1)
                    indexesValid &= expandRow(palette, row, base + qsizetype(y) * line, int(width));
            }
            throwIfStopped(stop);
        }
    }
    png_read_end(png, r.end);
    if (!indexesValid || hasTextReadAsSettings(png, r.end) || hasTurningExif(png, r.end))
        return std::nullopt;
    return picture;
}

} // namespace directcodec
