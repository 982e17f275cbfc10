// SPDX-License-Identifier: MIT
// Converts files to one target through the product's own picture path (the
// load and the prepared, committed write the batch uses), for the size table
// of bench/size-table.sh. Each output is named after its whole input name, so
// hopper.jpg and hopper.png do not overwrite each other.
#include "PlatformError.h"
#include "TargetFormat.h"
#include "conversion/PictureConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <optional>

namespace {

std::optional<TargetFormat> formatNamed(const QString& name) {
    for (TargetFormat format : kTargetFormats)
        if (extensionOf(format).mid(1) == name)
            return format;
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    const std::optional<TargetFormat> format =
        args.size() >= 3 ? formatNamed(args[0]) : std::nullopt;
    if (!format) {
        err << "usage: velmora_convert jpg|bmp|gif|pcx|png|ico|tiff OUTPUT-FOLDER FILE...\n";
        return 2;
    }
    const QDir folder(args[1]);
    int failures = 0;
    for (const QString& file : args.mid(2)) {
        const QString output =
            folder.filePath(QFileInfo(file).fileName() + extensionOf(*format).toString());
        try {
            const PictureObject picture = loadPictureFile(file);
            preparePictureFile(*picture, *format, output)->commit();
        } catch (const PlatformError& e) {
            err << file << ": " << e.what() << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
