// SPDX-License-Identifier: MIT
// TIFF through libtiff directly: strips of about a megabyte, alpha as
// unassociated extra sample, the colour profile in its tag, like the general
// path; the XMP and the IPTC's Photoshop resources in theirs. A photo is
// uncompressed unless a sample of its rows shows Deflate pays; other kinds of
// picture are kept in their smallest type and compressed (see TiffLayout).
#include "formats/DirectCodecs.h"
#include "formats/PaletteCodecs.h"
#include "metadata/ExifBlocks.h"
#include "system/SystemMemory.h"
#include "tiff/TiffMemoryFile.h"

#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace directcodec {
namespace {

// How a picture of a kind is stored. Black and white takes CCITT Group 4 with
// white as 0, as fax readers expect; gray and palette pictures Deflate, gray
// with the horizontal predictor when it has the many levels of a scan or
// photo (few-level gray compresses better without). A picture of many
// colours or 16-bit samples keeps its samples: a photo uncompressed, read and
// written at disk speed (see docs/benchmarks.md), graphics of flat areas and
// gradients Deflate with the predictor (see deflatePays). A few-colour
// picture with alpha keeps its samples and compresses.
struct TiffLayout {
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 3;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t predictor = PREDICTOR_NONE;
    qsizetype rowBytes = 0;
};

// Writes to `out` the row at `in` as libtiff's horizontal predictor stores it:
// each sample less the same sample of the pixel to its left.
template <typename Sample> void predictRow(const uchar* in, int width, int channels, uchar* out) {
    const qsizetype count = qsizetype(width) * channels;
    const auto* s = reinterpret_cast<const Sample*>(in);
    auto* d = reinterpret_cast<Sample*>(out);
    std::copy_n(s, std::min<qsizetype>(channels, count), d);
    for (qsizetype i = channels; i < count; ++i)
        d[i] = Sample(s[i] - s[i - channels]);
}

// Whether Deflate with the horizontal predictor shrinks the picture's own
// samples to at most a third. Eight bands of rows spread evenly from top to
// bottom, together about a sixteenth of the rows (at least one a band), go
// through the predictor and zlib's fastest level; rows wider than 8 KB give
// their middle 8 KB, and the bands 64 KB in all, so a photo's cost stays at a
// millisecond or two. Graphics of flat areas and gradients come to a few
// hundredths; a photo's noise keeps it above half, so a photo stays
// uncompressed and fast.
bool deflatePays(const Picture& picture) {
    const qsizetype pixelBytes = picture.channelCount() * (picture.bitsPerSample / 8);
    if (picture.width == 0 || picture.height == 0)
        return false;
    const int width = int(std::clamp<qsizetype>((8 << 10) / pixelBytes, 1, picture.width));
    const qsizetype line = width * pixelBytes;
    const qsizetype left = (picture.width - width) / 2 * pixelBytes;
    const int bands = std::min(8, picture.height);
    const int bandRows = int(std::clamp<qsizetype>(
        picture.height / (16 * bands), 1, std::max<qsizetype>((64 << 10) / (line * bands), 1)));
    QByteArray sample(line * bands * bandRows, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(sample.data());
    for (int band = 0; band < bands; ++band) {
        const int first = int(qsizetype(picture.height - bandRows) * band / std::max(bands - 1, 1));
        for (int y = first; y < first + bandRows; ++y, out += line) {
            const auto* in = reinterpret_cast<const uchar*>(picture.pixels.constData()) +
                             qsizetype(y) * picture.bytesPerLine() + left;
            if (picture.bitsPerSample == 16)
                predictRow<uint16_t>(in, width, picture.channelCount(), out);
            else
                predictRow<uint8_t>(in, width, picture.channelCount(), out);
        }
    }
    uLongf packed = compressBound(uLong(sample.size()));
    QByteArray compressed(qsizetype(packed), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &packed,
                  reinterpret_cast<const Bytef*>(sample.constData()), uLong(sample.size()),
                  1) != Z_OK)
        return false;
    return qsizetype(packed) * 3 <= sample.size();
}

TiffLayout tiffLayoutOf(const Picture& picture, const PictureKind& kind) {
    TiffLayout layout;
    layout.bitsPerSample = uint16_t(picture.bitsPerSample);
    layout.samplesPerPixel = uint16_t(picture.channelCount());
    layout.photometric = picture.channelCount() == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    layout.rowBytes = picture.bytesPerLine();
    if (kind.isPhoto()) {
        if (deflatePays(picture)) {
            layout.compression = COMPRESSION_ADOBE_DEFLATE;
            layout.predictor = PREDICTOR_HORIZONTAL;
        }
        return layout;
    }
    layout.compression = COMPRESSION_ADOBE_DEFLATE;
    if (picture.hasAlpha())
        return layout;
    layout.samplesPerPixel = 1;
    if (kind.kind == PictureKind::Kind::Bilevel) {
        layout.photometric = PHOTOMETRIC_MINISWHITE;
        layout.bitsPerSample = 1;
        layout.compression = COMPRESSION_CCITTFAX4;
    } else if (kind.kind == PictureKind::Kind::Gray) {
        layout.photometric = PHOTOMETRIC_MINISBLACK;
        layout.predictor = kind.colours.size() > 64 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
    } else {
        layout.photometric = PHOTOMETRIC_PALETTE;
        layout.bitsPerSample = uint16_t(kind.indexBits());
    }
    layout.rowBytes = packedRowBytes(picture.width, layout.bitsPerSample);
    return layout;
}

// Row y as the layout stores it.
void fillRow(const Picture& picture, const PictureKind& kind, const TiffLayout& layout, int y,
             uchar* row) {
    if (kind.isPhoto() || picture.hasAlpha()) { // the picture's own samples
        std::memcpy(row, picture.pixels.constData() + qsizetype(y) * layout.rowBytes,
                    size_t(layout.rowBytes));
        return;
    }
    const auto* indexes =
        reinterpret_cast<const uchar*>(kind.indexes.constData()) + qsizetype(y) * picture.width;
    if (layout.photometric == PHOTOMETRIC_MINISBLACK) {
        for (int x = 0; x < picture.width; ++x)
            row[x] = uchar(kind.colours[indexes[x]] & 0xFF);
    } else {
        packIndexes(indexes, picture.width, layout.bitsPerSample, row);
        if (layout.photometric == PHOTOMETRIC_MINISWHITE) // index 0 is black, stored as 1
            for (qsizetype i = 0; i < layout.rowBytes; ++i)
                row[i] = uchar(~row[i]);
    }
}

bool setColourMap(TIFF* tiff, const PictureKind& kind, int bits) {
    const qsizetype entries = qsizetype(1) << bits;
    QList<uint16_t> red(entries, 0), green(entries, 0), blue(entries, 0);
    for (qsizetype i = 0; i < kind.colours.size(); ++i) {
        const quint32 c = kind.colours[i];
        red[i] = uint16_t(((c >> 16) & 0xFF) * 257);
        green[i] = uint16_t(((c >> 8) & 0xFF) * 257);
        blue[i] = uint16_t((c & 0xFF) * 257);
    }
    return TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
}

// A file whose strips are the picture's own samples: the header, the
// samples where they lie, then the directory and its values.
class LentTiffBytes final : public FileBytes {
public:
    LentTiffBytes(const Picture& picture, TiffMemoryFile&& file)
        : m_picture(picture)
        , m_head(std::move(file.data))
        , m_tail(std::move(file.tail))
        , m_pieces{m_head, file.lent(), m_tail} {}
    QByteArray joined() override {
        qsizetype size = 0;
        for (int i = m_next; i < 3; ++i)
            size += m_pieces[i].size();
        QByteArray out(size, Qt::Uninitialized);
        prepareForWriting(out.data(), size);
        char* at = out.data();
        for (QByteArrayView piece = next(); !piece.isEmpty(); piece = next())
            at = std::copy(piece.begin(), piece.end(), at);
        return out;
    }
    QByteArrayView next() override {
        while (m_next < 3 && m_pieces[m_next].isEmpty())
            ++m_next;
        return m_next < 3 ? m_pieces[m_next++] : QByteArrayView();
    }

private:
    Picture m_picture; // keeps the samples the middle piece points at
    QByteArray m_head;
    QByteArray m_tail;
    QByteArrayView m_pieces[3];
    int m_next = 0;
};

} // namespace

QByteArray encodeTiff(const Picture& picture) {
    return encodeTiffByKind(picture, PictureKind{});
}

static TiffMemoryFile writeTiff(const Picture& picture, const PictureKind& kind,
                                const TiffLayout& layout) {
    // Uncompressed samples of the picture's own layout go into the file
    // where they lie, each strip straight from the picture.
    const bool ownStrips = layout.compression == COMPRESSION_NONE &&
                           (kind.isPhoto() || picture.hasAlpha()) &&
                           layout.rowBytes == picture.bytesPerLine();
    TiffMemoryFile file;
    if (ownStrips) {
        file.lendable = picture.pixels;
        file.tail.reserve(4096 + picture.iccProfile.size() + picture.metadata.xmp.size() +
                          picture.metadata.photoshop.size());
    } else {
        file.data.reserve(picture.pixels.size() / 2 + 4096);
    }
    TIFF* tiff = openTiffInMemory(file, "w");
    if (!tiff)
        throw CodecError(file.error.isEmpty() ? "libtiff could not start a file"
                                              : file.error.toStdString());

    const qsizetype line = layout.rowBytes;
    // Group 4 codes each row against the one above, so its picture is one strip.
    const int rowsPerStrip =
        layout.compression == COMPRESSION_CCITTFAX4
            ? picture.height
            : int(std::clamp<qsizetype>(((1 << 20) / std::max<qsizetype>(line, 1)) & ~qsizetype(15),
                                        1, picture.height));
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(picture.height)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip)) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    if (ok && layout.predictor != PREDICTOR_NONE)
        ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR, layout.predictor);
    if (ok && layout.photometric == PHOTOMETRIC_PALETTE)
        ok = setColourMap(tiff, kind, layout.bitsPerSample);
    if (ok && picture.hasAlpha()) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    if (ok && !picture.iccProfile.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(picture.iccProfile.size()),
                          picture.iccProfile.constData());
    const PictureMetadata& blocks = picture.metadata;
    if (ok && !blocks.xmp.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_XMLPACKET, uint32_t(blocks.xmp.size()),
                          blocks.xmp.constData());
    if (ok && !blocks.photoshop.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_PHOTOSHOP, uint32_t(blocks.photoshop.size()),
                          blocks.photoshop.constData());
    if (ownStrips) {
        const tmsize_t stripBytes = tmsize_t(line) * rowsPerStrip;
        const qsizetype total = picture.pixels.size();
        auto* samples = reinterpret_cast<uchar*>(const_cast<char*>(picture.pixels.constData()));
        for (qsizetype at = 0, strip = 0; ok && at < total; at += stripBytes, ++strip) {
            const tmsize_t bytes = tmsize_t(std::min<qsizetype>(stripBytes, total - at));
            ok = TIFFWriteRawStrip(tiff, uint32_t(strip), samples + at, bytes) == bytes;
        }
    } else {
        // libtiff's predictor works on the buffer in place, so rows go through a copy.
        QByteArray row(line, Qt::Uninitialized);
        for (int y = 0; ok && y < picture.height; ++y) {
            fillRow(picture, kind, layout, y, reinterpret_cast<uchar*>(row.data()));
            ok = TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0) == 1;
        }
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    if (!ok || !file.error.isEmpty())
        throw CodecError(file.error.isEmpty() ? "libtiff could not write the picture"
                                              : file.error.toStdString());
    return file;
}

std::unique_ptr<FileBytes> tiffFileBytesByKind(const Picture& picture, const PictureKind& kind,
                                               const QByteArray& exif) {
    TiffLayout layout = tiffLayoutOf(picture, kind);
    TiffMemoryFile encoded = writeTiff(picture, kind, layout);
    if (layout.compression == COMPRESSION_CCITTFAX4 &&
        encoded.size() > layout.rowBytes * picture.height) {
        layout.compression = COMPRESSION_ADOBE_DEFLATE;
        TiffMemoryFile deflated = writeTiff(picture, kind, layout);
        if (deflated.size() < encoded.size())
            encoded = std::move(deflated);
    }
    // The EXIF goes after the directory, in the small pieces around the
    // picture's samples; if it cannot, the whole file is tried.
    if (encoded.lentAt >= 0 &&
        (exif.isEmpty() || exif::putExifInTiffEnd(encoded.data, encoded.tail,
                                                  encoded.lentAt + encoded.lentSize, exif)))
        return std::make_unique<LentTiffBytes>(picture, std::move(encoded));
    QByteArray whole = encoded.lentAt >= 0 ? LentTiffBytes(picture, std::move(encoded)).joined()
                                           : std::move(encoded.data);
    if (!exif.isEmpty())
        exif::putExifInTiff(whole, exif); // left as it is when either is damaged
    return std::make_unique<WholeFileBytes>(std::move(whole));
}

QByteArray encodeTiffByKind(const Picture& picture, const PictureKind& kind) {
    return tiffFileBytesByKind(picture, kind, {})->joined();
}

} // namespace directcodec
