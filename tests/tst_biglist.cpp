// SPDX-License-Identifier: MIT
// Long lists through the real window with a scripted platform: tens of
// thousands of rows opened, added, deleted and converted in one go. Work that
// grows with the square of the list would not finish within the suite's
// time-out; what is checked here is that every row ends up where it belongs
// and that the user sees one message, not one per row.
#include "ControlNames.h"
#include "MainWindow.h"
#include "PreviewBox.h"
#include "fakes/WindowSession.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTest>

using namespace ControlNames;

namespace {

const QString kFolder = QStringLiteral("/pictures/");

// `count` names from `first` on. Every 1000th name is the one before as a
// PNG, so the batch has to number some outputs.
QStringList names(int first, int count) {
    QStringList list;
    list.reserve(count);
    for (int i = first; i < first + count; ++i)
        list << (i % 1000 == 999 ? QStringLiteral("p%1.png").arg(i - 1)
                                 : QStringLiteral("p%1.jpg").arg(i));
    return list;
}

// A dialog answer for several files: the folder, then each name, NUL between.
QString dialogAnswer(const QStringList& fileNames) {
    return QStringList{kFolder.chopped(1)}.join(QChar(u'\0')) + QChar(u'\0') +
           fileNames.join(QChar(u'\0'));
}

using Session = WindowSession;

QStringList withFolder(const QStringList& fileNames) {
    QStringList paths;
    paths.reserve(fileNames.size());
    for (const QString& name : fileNames)
        paths << QDir::toNativeSeparators(kFolder + name);
    return paths;
}

} // namespace

class BigListTest : public QObject {
    Q_OBJECT

private slots:
    void openAddAndDelete_data();
    void openAddAndDelete();
    void convertsEveryRow_data();
    void convertsEveryRow();
};

void BigListTest::openAddAndDelete_data() {
    QTest::addColumn<int>("opened");
    QTest::addColumn<int>("added");
    QTest::addColumn<QList<int>>("deleted"); // rows clicked and deleted, in order

    QTest::newRow("2,000 and 2,000 more") << 2000 << 2000 << QList<int>{0, 1999, 3997};
    QTest::newRow("20,000 and 20,000 more")
        << 20000 << 20000 << QList<int>{0, 12345, 19999, 20000, 39995};
}

void BigListTest::openAddAndDelete() {
    QFETCH(int, opened);
    QFETCH(int, added);
    QFETCH(QList<int>, deleted);

    Session session;
    session.desktop.dialog.answers = {dialogAnswer(names(0, opened)),
                                      dialogAnswer(names(opened, added))};
    session.press(kOpenButton);
    QCOMPARE(session.list->count(), opened);
    session.press(kAddButton);

    QStringList expected = withFolder(names(0, opened) + names(opened, added));
    QCOMPARE(session.rows(), expected);
    QCOMPARE(session.form.state().selectionParts.size(), added + 1);
    QCOMPARE(session.form.findChild<QLabel*>(kSelectionFolder)->text(),
             QDir::toNativeSeparators(kFolder));

    const auto shown = [&] {
        return FakeCodec::sourceOf(session.form.findChild<PreviewBox*>(kPreview)->picture());
    };
    for (int row : deleted) {
        session.clickRow(row);
        QCOMPARE(shown(), expected.at(row));
        session.press(kDeleteButton);
        expected.removeAt(row);
        // The row that moved up is selected and shown; after the last row,
        // nothing is.
        const bool wasLast = row == expected.size();
        QCOMPARE(session.list->currentRow(), wasLast ? -1 : row);
        QCOMPARE(shown(), wasLast ? QString() : expected.at(row));
    }
    QCOMPARE(session.rows(), expected);
    QVERIFY(session.desktop.messages.isEmpty());
}

void BigListTest::convertsEveryRow_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("formatIndex");
    QTest::addColumn<QString>("extension");
    QTest::newRow("2,000 rows to PNG") << 2000 << 4 << ".png";
    QTest::newRow("20,000 rows to JPG") << 20000 << 0 << ".jpg";
}

void BigListTest::convertsEveryRow() {
    QFETCH(int, rows);
    QFETCH(int, formatIndex);
    QFETCH(QString, extension);

    Session session;
    const QStringList paths = withFolder(names(0, rows));
    session.desktop.dialog.answers = {dialogAnswer(names(0, rows))};
    session.press(kOpenButton);
    session.desktop.folderAnswers = {QStringLiteral("/out")};
    session.press(kConvertButtons[formatIndex]);

    // Every row, in list order, each to its own file.
    QCOMPARE(session.codec->saves.size(), rows);
    QSet<QString> targets;
    for (int row = 0; row < rows; ++row) {
        const auto& [source, target] = session.codec->saves.at(row);
        QCOMPARE(source, paths.at(row));
        QVERIFY2(target.startsWith(QDir::toNativeSeparators("/out/p")) &&
                     target.endsWith(extension),
                 qPrintable(target));
        targets.insert(target);
    }
    QCOMPARE(targets.size(), rows);
    QCOMPARE(session.codec->saves.at(999).second,
             QDir::toNativeSeparators("/out/p998 (2)") + extension);
    // Each row is decoded once; its preview comes from the same decode.
    QCOMPARE(session.codec->loads.size(), rows);
    for (const QString& path : paths)
        QCOMPARE(session.codec->loads.value(path), 1);

    const QList<QPair<QString, QString>> expectedMessages{
        {"转换完毕", "图片转换完毕！图片已经被输出保存路径到" + QDir::toNativeSeparators("/out")}};
    QCOMPARE(session.desktop.messages, expectedMessages);
    QCOMPARE(session.list->currentRow(), rows - 1);
    QCOMPARE(FakeCodec::sourceOf(session.form.findChild<PreviewBox*>(kPreview)->picture()),
             paths.last());
    QVERIFY(session.form.findChild<QPushButton*>(kViewOutputButton)->isEnabled());
}

QTEST_MAIN(BigListTest)
#include "tst_biglist.moc"
