// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

// A command button of the window. With the focus it answers Enter (main or
// keypad) as well as Space, though it is never a default button, and it shows
// the focus as a dotted frame inside its edge.
class FormButton : public QPushButton {
    Q_OBJECT

public:
    explicit FormButton(const QString& text, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
