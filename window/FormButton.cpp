// SPDX-License-Identifier: MIT
#include "FormButton.h"

#include <QKeyEvent>
#include <QPainter>

FormButton::FormButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {
    setAutoDefault(false);
    setDefault(false);
}

// QPushButton clicks on Enter only as a (auto-)default button of a dialog; this
// window has none, so Enter went to the window and nothing happened. A held key
// clicks once.
void FormButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QPushButton::keyPressEvent(event);
        return;
    }
    if (!event->isAutoRepeat())
        click();
}

// The style marks the focus with a faint outline, and only after Tab; the mark
// here is drawn whenever the button has the focus, in the button's text colour.
void FormButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::ButtonText), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(4, 4, -5, -5));
}
