// SPDX-License-Identifier: MIT
#include "ControlAdapters.h"

#include "PictureList.h"
#include "PlatformError.h"
#include "PreviewBox.h"

#include <QLabel>
#include <QPushButton>

QtListBox::QtListBox(PictureList* list)
    : m_list(list) {}

void QtListBox::addRow(const QString& text) {
    m_list->addItem(text);
}

void QtListBox::removeRow(int index) {
    checkRow(index);
    const bool wasSelected = index == selectedRow();
    delete m_list->takeItem(index);
    // Qt moves the selection to a neighbour; removing the selected row leaves
    // no row selected.
    if (wasSelected)
        selectQuietly(-1);
}

void QtListBox::clear() {
    m_list->clear();
}

int QtListBox::rowCount() const {
    return m_list->count();
}

int QtListBox::selectedRow() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void QtListBox::selectRow(int index) {
    checkRow(index);
    selectQuietly(index);
    raiseClick();
}

QString QtListBox::rowText(int index) const {
    const QListWidgetItem* item = index == -1 ? nullptr : m_list->item(index);
    return item ? item->text() : QString();
}

void QtListBox::setBackgroundColor(RgbColor color) {
    QPalette palette = m_list->palette();
    palette.setColor(QPalette::Base, QColor(color.red, color.green, color.blue));
    m_list->setPalette(palette);
}

void QtListBox::onUserSelection(std::function<void()> onUserClick) {
    QObject::connect(m_list, &PictureList::rowChosen, m_list, std::move(onUserClick));
}

void QtListBox::checkRow(int index) const {
    if (index < 0 || index >= m_list->count())
        throw PlatformError(FailureKind::NoSuchRow, QStringLiteral("row %1").arg(index));
}

void QtListBox::selectQuietly(int index) {
    if (index == -1) {
        m_list->clearSelection();
        m_list->setCurrentItem(nullptr);
    } else {
        m_list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
}

void QtImage::setPicture(const PictureObject& picture) {
    m_box->setPicture(picture);
}

QString QtLabel::text() const {
    return m_label->text();
}

void QtLabel::setText(const QString& caption) {
    m_label->setText(caption);
}

void QtButton::setEnabled(bool enabled) {
    m_button->setEnabled(enabled);
}
