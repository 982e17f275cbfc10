// SPDX-License-Identifier: MIT
#include "input/PictureSniffing.h"

#include "PlatformError.h"
#include "input/PictureReading.h"
#include "structures/ByteOrder.h"
#include "structures/JpegSegments.h"
#include "structures/TiffDirectories.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace {

bool startsWith(const QByteArray& bytes, const char* magic, qsizetype length) {
    return bytes.size() >= length && std::memcmp(bytes.constData(), magic, size_t(length)) == 0;
}

bool looksLikePcx(const QByteArray& b) {
    if (b.size() < 128 || b[0] != 0x0A)
        return false;
    const int version = b[1];
    const int encoding = b[2];
    const int bitsPerPlane = b[3];
    return (version == 0 || version == 2 || version == 3 || version == 4 || version == 5) &&
           (encoding == 0 || encoding == 1) &&
           (bitsPerPlane == 1 || bitsPerPlane == 2 || bitsPerPlane == 4 || bitsPerPlane == 8);
}

// The bytes at `offset`, as many as there are up to `size`. Nothing is
// sought past the end (a buffer warns of it).
QByteArray readAt(QIODevice& file, qint64 offset, qint64 size) {
    if (offset < 0 || offset > file.size() || !file.seek(offset))
        return {};
    return file.read(size);
}

// A file's bytes as the JPEG segment walker reads them, piece by piece.
class FileBytes {
public:
    explicit FileBytes(QIODevice& file)
        : m_file(file)
        , m_size(file.size()) {}
    qint64 size() const { return m_size; }
    bool read(qint64 at, uchar* out, int count) const {
        return at >= 0 && at <= m_size && m_file.seek(at) &&
               m_file.read(reinterpret_cast<char*>(out), count) == count;
    }

private:
    QIODevice& m_file;
    qint64 m_size;
};

// A JPEG's frame header comes after any number of application segments
// (profiles can take several of 64 KiB), so the segments are walked.
DeclaredSize jpegSize(QIODevice& file) {
    const FileBytes bytes(file);
    DeclaredSize size;
    int segments = 0;
    jpeg::walkSegments(bytes, [&](const jpeg::Segment& segment) {
        if (jpeg::isFrameHeader(segment.marker)) {
            uchar frame[5];
            if (bytes.read(segment.payloadAt, frame, 5))
                size = {readBigEndian(frame + 3, 2), readBigEndian(frame + 1, 2)};
            return false;
        }
        return segment.marker != jpeg::kEndOfImage && ++segments < 4096;
    });
    return size;
}

// The width and length of a TIFF's first directory.
DeclaredSize tiffSize(QIODevice& file, const QByteArray& head) {
    tiffdir::Reader header(head);
    if (!header.readHeader()) // BigTIFF is left to the codec
        return {};
    const qint64 directory = header.firstDirectory();
    const QByteArray count = readAt(file, directory, 2);
    if (count.size() < 2)
        return {};
    constexpr quint32 kMaxEntries = 4096;
    const quint32 entries = std::min(
        readUnsigned(reinterpret_cast<const uchar*>(count.constData()), 2, header.bigEndian()),
        kMaxEntries);
    const QByteArray table = readAt(file, directory, 2 + qint64(entries) * 12);
    const tiffdir::Reader reader(table, directory, header.bigEndian());
    DeclaredSize size;
    reader.scanEntries(directory, kMaxEntries, [&](quint16 tag, quint16 type, qsizetype at) {
        if (tag == tiffdir::kImageWidth || tag == tiffdir::kImageLength)
            (tag == tiffdir::kImageWidth ? size.width : size.height) =
                type == tiffdir::kShort ? reader.u16(at + 8) : reader.u32(at + 8);
        return true;
    });
    return size.isKnown() ? size : DeclaredSize{};
}

// The largest image of an icon directory; 0 in a side means 256.
DeclaredSize iconSize(const QByteArray& head) {
    const int count = int(readLittleEndian(head, 4, 2));
    DeclaredSize largest;
    for (int i = 0; i < count && 6 + (i + 1) * 16 <= head.size(); ++i) {
        const qint64 width = quint8(head[6 + i * 16]) ? quint8(head[6 + i * 16]) : 256;
        const qint64 height = quint8(head[7 + i * 16]) ? quint8(head[7 + i * 16]) : 256;
        if (width * height > largest.width * largest.height)
            largest = {width, height};
    }
    return largest;
}

// Formats we do not read, by the bytes they start with.
struct Signature {
    std::string_view magic;
    const char* name;
};

using namespace std::string_view_literals;
constexpr Signature kUnsupportedSignatures[] = {
    {"\xFF\x0A"sv, "JPEG XL"},
    {"\0\0\0\x0CJXL \r\n\x87\n"sv, "JPEG XL"},
    {"\0\0\0\x0CjP  \r\n\x87\n"sv, "JPEG 2000"},
    {"\xFF\x4F\xFF\x51"sv, "JPEG 2000"},
    {"II\xBC\x01"sv, "JPEG XR"},
    {"%PDF-"sv, "PDF"},
    {"\xC5\xD0\xD3\xC6"sv, "EPS"},
    {"8BPS\0\2"sv, "PSB"},
    {"v/1\x01"sv, "OpenEXR"},
    {"#?RADIANCE"sv, "Radiance HDR"},
    {"#?RGBE"sv, "Radiance HDR"},
    {"gimp xcf"sv, "XCF"},
    {"qoif"sv, "QOI"},
    {"\xD7\xCD\xC6\x9A"sv, "WMF"},
    {"II\x1A\0\0\0HEAPCCDR"sv, "CRW"},
    {"FUJIFILMCCD-RAW"sv, "RAF"},
    {"IIRO"sv, "ORF"},
    {"IIRS"sv, "ORF"},
    {"MMOR"sv, "ORF"},
    {"IIU\0"sv, "RW2"},
};

// Whether `magic` stands at `at`.
bool hasAt(const QByteArray& bytes, std::string_view magic, qsizetype at = 0) {
    return at >= 0 && bytes.size() - at >= qsizetype(magic.size()) &&
           std::memcmp(bytes.constData() + at, magic.data(), magic.size()) == 0;
}

QString webpFormat(const QByteArray& b) {
    return hasAt(b, "RIFF"sv) && hasAt(b, "WEBP"sv, 8) ? QStringLiteral("WebP") : QString();
}

// An ISO media file ("ftyp" box first) that holds a still picture: named by
// the most telling of its brands, the main one and the compatible ones.
QString isoMediaFormat(const QByteArray& b) {
    if (!hasAt(b, "ftyp"sv, 4) || b.size() < 12)
        return {};
    const qsizetype boxEnd = std::min<qsizetype>(b.size(), readBigEndian(b, 0, 4));
    QList<QByteArray> brands{b.mid(8, 4)};
    for (qsizetype at = 16; at + 4 <= boxEnd; at += 4)
        brands << b.mid(at, 4);
    const auto any = [&](std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(),
                           [&](const char* name) { return brands.contains(name); });
    };
    if (any({"avif", "avis"}))
        return QStringLiteral("AVIF");
    if (any({"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs"}))
        return QStringLiteral("HEIC");
    if (any({"crx "}))
        return QStringLiteral("CR3");
    if (any({"mif1", "msf1", "mif2"}))
        return QStringLiteral("HEIF");
    return {};
}

// PostScript, or Encapsulated PostScript when its first line says so.
QString postScriptFormat(const QByteArray& b) {
    if (!hasAt(b, "%!PS"sv))
        return {};
    const QByteArray firstLine = b.left(256).split('\n').first();
    return firstLine.contains("EPSF") ? QStringLiteral("EPS") : QStringLiteral("PostScript");
}

// The portable bitmaps: "P1" to "P6" and white space before the width (and
// any comment lines), or "P7" before its header's first keyword, so that a
// text starting "P1 " is not taken for one.
QString portableBitmapFormat(const QByteArray& b) {
    if (b.size() < 3 || b[0] != 'P' || b[1] < '1' || b[1] > '7' || !QChar::isSpace(uchar(b[2])))
        return {};
    qsizetype at = 2;
    while (at < b.size()) {
        if (b[at] == '#') {
            const qsizetype lineEnd = b.indexOf('\n', at);
            at = lineEnd < 0 ? b.size() : lineEnd + 1;
        } else if (QChar::isSpace(uchar(b[at]))) {
            ++at;
        } else {
            break;
        }
    }
    const bool pam = b[1] == '7';
    if (at >= b.size() || (pam ? !std::isupper(uchar(b[at])) : !std::isdigit(uchar(b[at]))))
        return {};
    static const char* const kNames[] = {"PBM", "PGM", "PPM", "PBM", "PGM", "PPM", "PAM"};
    return QString::fromLatin1(kNames[b[1] - '1']);
}

QString enhancedMetafileFormat(const QByteArray& b) {
    return hasAt(b, "\1\0\0\0"sv) && hasAt(b, " EMF"sv, 40) ? QStringLiteral("EMF") : QString();
}

// SVG: XML text whose first element, after the declaration, comments and
// document type, is <svg>. Only the start of the file is looked at.
QString svgFormat(const QByteArray& bytes) {
    QByteArrayView text = QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), 4096));
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype at = 0;
    for (int part = 0; part < 16; ++part) {
        while (at < text.size() && QChar::isSpace(uchar(text[at])))
            ++at;
        const QByteArrayView rest = text.sliced(at);
        if (rest.startsWith("<svg") && rest.size() > 4 &&
            (QChar::isSpace(uchar(rest[4])) || rest[4] == '>' || rest[4] == '/'))
            return QStringLiteral("SVG");
        if (rest.size() >= 13 && rest.first(13).compare("<!DOCTYPE svg", Qt::CaseInsensitive) == 0)
            return QStringLiteral("SVG");
        const char* end = rest.startsWith("<?")     ? "?>"
                          : rest.startsWith("<!--") ? "-->"
                          : rest.startsWith("<!")   ? ">"
                                                    : nullptr;
        if (!end)
            return {};
        const qsizetype found = rest.indexOf(QByteArrayView(end));
        if (found < 0)
            return {};
        at += found + qsizetype(std::strlen(end));
    }
    return {};
}

} // namespace

QString unsupportedFormatOf(const QByteArray& b) {
    if (formatOfContent(b))
        return {};
    for (const Signature& signature : kUnsupportedSignatures)
        if (hasAt(b, signature.magic))
            return QString::fromLatin1(signature.name);
    for (QString (*recognise)(const QByteArray&) :
         {webpFormat, isoMediaFormat, postScriptFormat, portableBitmapFormat,
          enhancedMetafileFormat, svgFormat}) {
        if (QString name = recognise(b); !name.isEmpty())
            return name;
    }
    return {};
}

std::optional<SourceFormat> formatOfContent(const QByteArray& b) {
    if (startsWith(b, "\xFF\xD8\xFF", 3))
        return SourceFormat::Jpeg;
    if (startsWith(b, "\x89PNG\r\n\x1A\n", 8))
        return SourceFormat::Png;
    if (startsWith(b, "GIF87a", 6) || startsWith(b, "GIF89a", 6))
        return SourceFormat::Gif;
    if (startsWith(b, "BM", 2))
        return SourceFormat::Bmp;
    if (startsWith(b, "II*\0", 4) || startsWith(b, "MM\0*", 4) || startsWith(b, "II+\0", 4) ||
        startsWith(b, "MM\0+", 4))
        return SourceFormat::Tiff;
    if (startsWith(b, "8BPS\0\1", 6))
        return SourceFormat::Psd;
    if (startsWith(b, "\0\0\1\0", 4) && b.size() >= 6 && (b[4] != 0 || b[5] != 0))
        return SourceFormat::Ico;
    if (startsWith(b, "\xB1\x68\xDE\x3A", 4))
        return SourceFormat::Dcx;
    if (looksLikePcx(b))
        return SourceFormat::Pcx;
    return std::nullopt;
}

const char* magickCoderOf(SourceFormat format) {
    switch (format) {
    case SourceFormat::Jpeg:
        return "JPEG";
    case SourceFormat::Png:
        return "PNG";
    case SourceFormat::Gif:
        return "GIF";
    case SourceFormat::Bmp:
        return "BMP";
    case SourceFormat::Tiff:
        return "TIFF";
    case SourceFormat::Psd:
        return "PSD";
    case SourceFormat::Ico:
        return "ICO";
    case SourceFormat::Dcx:
        return "DCX";
    case SourceFormat::Pcx:
        return "PCX";
    }
    return "";
}

DeclaredSize declaredSize(const QByteArray& b, SourceFormat format) {
    if (format == SourceFormat::Png && b.size() >= 24 && b.mid(12, 4) == "IHDR")
        return {readBigEndian(b, 16, 4), readBigEndian(b, 20, 4)};
    if (format == SourceFormat::Gif && b.size() >= 10)
        return {readLittleEndian(b, 6, 2), readLittleEndian(b, 8, 2)};
    if (format == SourceFormat::Psd && b.size() >= 22)
        return {readBigEndian(b, 18, 4), readBigEndian(b, 14, 4)};
    if (format == SourceFormat::Bmp && b.size() >= 26) {
        const quint32 headerSize = readLittleEndian(b, 14, 4);
        if (headerSize == 12)
            return {readLittleEndian(b, 18, 2), readLittleEndian(b, 20, 2)};
        if (headerSize >= 40) {
            const qint32 height = qint32(readLittleEndian(b, 22, 4)); // negative: top-down rows
            return {qint32(readLittleEndian(b, 18, 4)), height < 0 ? -qint64(height) : height};
        }
    }
    return {};
}

std::optional<SourceHeader> recognise(const QByteArray& bytes) {
    const std::optional<SourceFormat> format = formatOfContent(bytes);
    if (!format)
        return std::nullopt;
    return SourceHeader{*format, declaredSize(bytes, *format)};
}

DeclaredSize declaredSizeOfFile(const QString& fileName) {
    QFile file;
    try {
        openPictureFile(file, fileName);
    } catch (const PlatformError&) {
        return {};
    }
    return declaredSizeOf(file);
}

DeclaredSize declaredSizeOf(QIODevice& file) {
    const QByteArray head = file.read(4096);
    const std::optional<SourceHeader> header = recognise(head);
    if (!header)
        return {};
    if (header->declared.isKnown())
        return header->declared;
    if (header->format == SourceFormat::Jpeg)
        return jpegSize(file);
    if (header->format == SourceFormat::Tiff)
        return tiffSize(file, head);
    if (header->format == SourceFormat::Ico)
        return iconSize(head);
    if (header->format == SourceFormat::Pcx)
        return {qint64(readLittleEndian(head, 8, 2)) - readLittleEndian(head, 4, 2) + 1,
                qint64(readLittleEndian(head, 10, 2)) - readLittleEndian(head, 6, 2) + 1};
    return {};
}
