// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("Velmora"));
    window.show();
    return QApplication::exec();
}
