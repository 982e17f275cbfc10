// SPDX-License-Identifier: MIT
#include "Form1.h"
#include "QtPictureServices.h"
#include "Translations.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION_TEXT));
    installChineseTranslations(app);

    QtPictureServices services;
    Form1 form(services);
    services.setOwner(&form);
    services.setPreviewBox(form.previewBoxSize());
    form.show();
    return QApplication::exec();
}
