// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QListWidget>
#include <QPersistentModelIndex>

class QFontMetrics;

// The picture list: one selected row at most, and the user can never take the
// selection away, only move it. Every row is as tall as the others and shows
// its whole path when that fits, else the path shortened in the middle so the
// file name stays visible; the list never scrolls sideways.
class PictureList : public QListWidget {
    Q_OBJECT

public:
    explicit PictureList(QWidget* parent = nullptr);

    // The text row `row` shows, as it is painted.
    QString shownText(int row) const;

signals:
    // The user chose a row: clicked one, selected or not (once per click), or
    // moved the selection with the keyboard. Selections made from code do not
    // raise it.
    void rowChosen();

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int selectedRow() const;

    bool m_mouseDown = false;
    int m_selectedAtPress = -1;
    QPersistentModelIndex m_pressedIndex;
};

// `path` as it fits in `width` pixels: whole when it fits, else the start of its
// folder, "…" and the whole file name ("/home/…/photo 1.jpg"); a file name too
// long even for that is shortened in its own middle.
QString compactPath(const QString& path, const QFontMetrics& metrics, int width,
                    QChar separator = QDir::separator());
