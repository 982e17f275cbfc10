// SPDX-License-Identifier: MIT
#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

void installChineseTranslations(QCoreApplication& app) {
    // The Windows program carries Qt's translations in its resources (a
    // Windows machine has none); elsewhere they come with the system's Qt.
    const QString packed = QStringLiteral(":/translations");
    const QString folder =
        QDir(packed).exists() ? packed : QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalogue : {"qtbase_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QString::fromLatin1(catalogue), folder))
            app.installTranslator(translator);
        else
            delete translator;
    }
}
