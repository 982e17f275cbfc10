// SPDX-License-Identifier: MIT
#include "PictureList.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <utility>

namespace {
const QString kEllipsis = QStringLiteral("…");

// Paints each row's path shortened to the row, and makes every row the same
// height whatever its text.
class PathDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Chinese glyphs come from a taller fallback font than Latin ones, so a row
    // measured on its own text is 14 or 18 px high depending on that text; with
    // uniform item sizes the list then takes whichever row it measured last for
    // all of them. Every row gets the height of a line that holds both, and no
    // width of its own: it spans the list.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem sample = option;
        QStyledItemDelegate::initStyleOption(&sample, index);
        sample.text = QStringLiteral("Ag图");
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const int height =
            style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget).height();
        return {0, height};
    }

    // Public: the list asks it what a row shows.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->rect.isEmpty())
            return;
        const QWidget* widget = option->widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        // The style draws the text inside its text rectangle, less a margin on
        // either side.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, option, widget);
        const int width = textRect.width() - 2 * margin;
        option->text = compactPath(option->text, option->fontMetrics, width);
    }
};
} // namespace

QString compactPath(const QString& path, const QFontMetrics& metrics, int width, QChar separator) {
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const qsizetype cut = path.lastIndexOf(separator);
    const QString tail = kEllipsis + path.mid(cut); // "…/photo 1.jpg"
    if (cut < 0 || metrics.horizontalAdvance(tail) > width)
        return metrics.elidedText(path.mid(cut + 1), Qt::ElideMiddle, width);

    // The longest start of the folder that still fits before the tail.
    qsizetype fits = 0;
    qsizetype tooLong = cut + 1;
    while (tooLong - fits > 1) {
        const qsizetype length = (fits + tooLong) / 2;
        if (metrics.horizontalAdvance(path.left(length) + tail) <= width)
            fits = length;
        else
            tooLong = length;
    }
    if (fits > 0 && path.at(fits - 1).isHighSurrogate())
        --fits;
    return path.left(fits) + tail;
}

PictureList::PictureList(QWidget* parent)
    : QListWidget(parent) {
    setSelectionMode(SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideMiddle);
    setItemDelegate(new PathDelegate(this));
}

QString PictureList::shownText(int row) const {
    const QModelIndex index = model()->index(row, 0);
    const auto* delegate = dynamic_cast<const PathDelegate*>(itemDelegateForIndex(index));
    if (!index.isValid() || !delegate)
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    delegate->initStyleOption(&option, index);
    return option.text;
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
// Only the left button selects: the right and middle buttons do nothing here.
void PictureList::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_mouseDown = true;
    m_selectedAtPress = selectedRow();
    m_pressedIndex = indexAt(event->position().toPoint());
    QListWidget::mousePressEvent(event);
}

void PictureList::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    QListWidget::mouseReleaseEvent(event);
    if (!std::exchange(m_mouseDown, false))
        return;
    const QModelIndex released = indexAt(event->position().toPoint());
    const bool clickedRow = released.isValid() && released == m_pressedIndex;
    const int selected = selectedRow();
    if (selected != -1 && (clickedRow || selected != m_selectedAtPress))
        emit rowChosen();
}

void PictureList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        QListWidget::mouseDoubleClickEvent(event);
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
