// SPDX-License-Identifier: MIT
#pragma once

#include <QListWidget>
#include <QPersistentModelIndex>

// The picture list: one selected row at most, and the user can never take the
// selection away, only move it.
class PictureList : public QListWidget {
    Q_OBJECT

public:
    explicit PictureList(QWidget* parent = nullptr);

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
    void keyPressEvent(QKeyEvent* event) override;

private:
    int selectedRow() const;

    bool m_mouseDown = false;
    int m_selectedAtPress = -1;
    QPersistentModelIndex m_pressedIndex;
};
