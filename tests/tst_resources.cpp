// SPDX-License-Identifier: MIT
#include "VelmoraResources.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QtTest>

// The packed pictures reach a program that only links velmora_resources, and
// they are the pictures the window expects.
class TestResources : public QObject {
    Q_OBJECT

private slots:
    void everyPathExists() {
        QVERIFY(QFile::exists(QStringLiteral(":/velmora/background.jpg")));
        QVERIFY(VelmoraResources::allPresent());
    }

    void backgroundIsA1024By768ColourPicture() {
        QImage image(VelmoraResources::kBackground.toString());
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(1024, 768));
        QVERIFY(!image.isGrayscale());
        QVERIFY(!image.hasAlphaChannel());
    }

    void iconHoldsBothSizes() {
        QImageReader reader(VelmoraResources::kIcon.toString());
        QCOMPARE(reader.imageCount(), 2);
        QList<QSize> sizes;
        do {
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QVERIFY(image.hasAlphaChannel());
            sizes << image.size();
        } while (reader.jumpToNextImage());
        QCOMPARE(sizes, (QList<QSize>{{32, 32}, {48, 48}}));
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
