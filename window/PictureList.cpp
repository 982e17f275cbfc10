// SPDX-License-Identifier: MIT
#include "PictureList.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <utility>

PictureList::PictureList(QWidget* parent)
    : QListWidget(parent) {
    setSelectionMode(SingleSelection);
    setUniformItemSizes(true);
}

QItemSelectionModel::SelectionFlags PictureList::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    // For the user's mouse and keys Qt clears the selection on a click below
    // the last row (ClearAndSelect of no row, on release) and deselects the
    // selected row on Ctrl+click or Ctrl+Space. Here a row stays selected.
    const bool clearsAll = !index.isValid() && command.testFlag(QItemSelectionModel::Clear);
    if (event && (clearsAll || command.testFlag(QItemSelectionModel::Deselect)))
        return QItemSelectionModel::NoUpdate;
    return command;
}

// Qt selects a row when the button goes down and reports nothing for a click on
// the row already selected. A click here is reported once, when the button
// comes up: for the row under it when it went down and came up on the same row,
// or for the row the selection moved to meanwhile. The second click of a double
// click comes as a double-click event, not a press, and is not counted.
void PictureList::mousePressEvent(QMouseEvent* event) {
    m_mouseDown = true;
    m_selectedAtPress = selectedRow();
    m_pressedIndex = indexAt(event->position().toPoint());
    QListWidget::mousePressEvent(event);
}

void PictureList::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    if (!std::exchange(m_mouseDown, false))
        return;
    const QModelIndex released = indexAt(event->position().toPoint());
    const bool clickedRow =
        event->button() == Qt::LeftButton && released.isValid() && released == m_pressedIndex;
    const int selected = selectedRow();
    if (selected != -1 && (clickedRow || selected != m_selectedAtPress))
        emit rowChosen();
}

void PictureList::keyPressEvent(QKeyEvent* event) {
    const int before = selectedRow();
    QListWidget::keyPressEvent(event);
    const int after = selectedRow();
    if (after != -1 && after != before)
        emit rowChosen();
}

int PictureList::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}
