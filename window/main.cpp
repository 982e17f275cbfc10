// SPDX-License-Identifier: MIT
#include "MainWindow.h"
#include "QtDesktop.h"
#include "Translations.h"
#include "conversion/FilePictureCodec.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The failure log goes to standard error on every system; a Windows
    // program without a console would otherwise send it to a debugger.
    if (!qEnvironmentVariableIsSet("QT_FORCE_STDERR_LOGGING"))
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION_TEXT));
    installChineseTranslations(app);

    // Rows of a cancelled batch may still be finishing when the window
    // closes; they hold the codec until they are done.
    auto codec = std::make_shared<FilePictureCodec>();
    QtDesktop desktop;
    MainWindow form(codec, desktop);
    desktop.setOwner(&form);
    codec->setPreviewBox(form.previewBoxSize());
    form.show();
    return QApplication::exec();
}
