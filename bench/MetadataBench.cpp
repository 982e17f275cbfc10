// SPDX-License-Identifier: MIT
#include "MetadataBench.h"

#include "PlatformError.h"
#include "conversion/FilePictureCodec.h"
#include "support/MetadataTesting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

namespace {

using namespace testing;

// EXIF as a camera writes it, with a thumbnail (its directory and data).
QByteArray cameraExif() {
    const QByteArray thumbnail("\xFF\xD8thumbnail\xFF\xD9");
    return buildTiff({{{ascii(0x010F, "Canon"), ascii(0x0110, "Canon EOS R6"),
                        shortValue(0x0112, 6), pointer(0x8769, 1), pointer(0x8825, 2)},
                       3},
                      {{ascii(0x9003, "2024:05:06 07:08:09")}},
                      {{ascii(1, "N"), rationals(2, {48, 1, 30, 1, 0, 1}), ascii(3, "E"),
                        rationals(4, {2, 1, 20, 1, 0, 1})}},
                      {{shortValue(0x0103, 6), blobOffset(0x0201, 0),
                        longValue(0x0202, quint32(thumbnail.size()))}}},
                     {thumbnail});
}

QString run(const QString& program, const QStringList& arguments, bool* ok = nullptr) {
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
                      process.exitCode() == 0;
    if (ok)
        *ok = done;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString cell(const QJsonObject& tags, const char* name) {
    const QJsonValue value = tags.value(QLatin1String(name));
    return value.isUndefined() ? QStringLiteral("–") : value.toVariant().toString();
}

} // namespace

QStringList metadataReport(const QString& photo, const QString& workFolder,
                           const QString& mogrify) {
    QStringList lines{QString(),
                      QStringLiteral("Metadata kept from a camera photo (the first "
                                     "photo with EXIF: Make, Model, DateTimeOriginal, "
                                     "GPS position, orientation 6, a thumbnail):"),
                      QString()};
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        return lines << QStringLiteral("- exiftool is not installed: not measured");
    const QDir folder(QDir(workFolder).filePath(QStringLiteral("metadata")));
    QDir().mkpath(folder.path());
    const QString source = folder.filePath(QStringLiteral("camera.jpg"));
    {
        QFile in(photo);
        QFile out(source);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            return lines << QStringLiteral("- cannot make the camera photo");
        out.write(withSegments(in.readAll(),
                               jpegSegment(0xE1, QByteArray("Exif\0\0", 6) + cameraExif())));
    }

    QStringList outputs;
    FilePictureCodec codec;
    for (const auto& [format, extension] : {std::pair{TargetFormat::Jpg, QStringLiteral("jpg")},
                                            std::pair{TargetFormat::Png, QStringLiteral("png")}}) {
        const QString velmora = folder.filePath(QStringLiteral("velmora.") + extension);
        try {
            codec.convert(source, format, velmora).file->commit();
        } catch (const PlatformError& e) {
            lines << QStringLiteral("- Velmora to %1 failed: %2").arg(extension, e.detail());
        }
        const QString mogrified = folder.filePath(QStringLiteral("camera.") + extension);
        bool ok = false;
        run(mogrify,
            {QStringLiteral("-auto-orient"), QStringLiteral("-format"), extension,
             QStringLiteral("-path"), folder.path(), source},
            &ok);
        if (!ok)
            lines << QStringLiteral("- mogrify to %1 failed").arg(extension);
        outputs << velmora << mogrified;
    }

    const QString json = run(
        exiftool, QStringList{QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-Make"),
                              QStringLiteral("-Model"), QStringLiteral("-DateTimeOriginal"),
                              QStringLiteral("-GPSLatitude"), QStringLiteral("-GPSLongitude"),
                              QStringLiteral("-Orientation"), QStringLiteral("-ThumbnailLength"),
                              QStringLiteral("-ImageWidth"), QStringLiteral("-ImageHeight")} +
                      outputs);
    QMap<QString, QJsonObject> byFile;
    for (const QJsonValue& entry : QJsonDocument::fromJson(json.toUtf8()).array())
        byFile.insert(QFileInfo(entry[QStringLiteral("SourceFile")].toString()).fileName(),
                      entry.toObject());
    lines << QStringLiteral("| output | Make | Model | DateTimeOriginal | GPS | Orientation | "
                            "thumbnail bytes | size |")
          << QStringLiteral("|---|---|---|---|---|---:|---:|---|");
    for (const QString& file : outputs) {
        const QString name = QFileInfo(file).fileName();
        const QJsonObject tags = byFile.value(name);
        const QString who = name.startsWith(QLatin1String("velmora")) ? QStringLiteral("Velmora")
                                                                      : QStringLiteral("mogrify");
        lines << QStringLiteral("| %1 %2 | %3 | %4 | %5 | %6, %7 | %8 | %9 | %10×%11 |")
                     .arg(who, QFileInfo(file).suffix().toUpper(), cell(tags, "Make"),
                          cell(tags, "Model"), cell(tags, "DateTimeOriginal"),
                          cell(tags, "GPSLatitude"), cell(tags, "GPSLongitude"),
                          cell(tags, "Orientation"), cell(tags, "ThumbnailLength"))
                     .arg(cell(tags, "ImageWidth"), cell(tags, "ImageHeight"));
    }
    lines << QString()
          << QStringLiteral("Read with exiftool -n; – is a tag the file does not hold.");
    return lines;
}

QString jpegTargetNote(double velmora, double mogrify, double floor) {
    return QStringLiteral("- JPG from the JPEG corpus: %1 of mogrify's time (target ≤ 0.10), %2 "
                          "of the decode+encode floor's (target below 1): the compressed data "
                          "is carried over, not encoded again")
        .arg(mogrify > 0 ? velmora / mogrify : 0.0, 0, 'f', 3)
        .arg(floor > 0 ? velmora / floor : 0.0, 0, 'f', 3);
}
