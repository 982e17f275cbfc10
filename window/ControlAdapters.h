// SPDX-License-Identifier: MIT
// The window's Qt widgets seen through the control interfaces the handlers use.
#pragma once

#include "Controls.h"

class PictureList;
class PreviewBox;
class QLabel;
class QPushButton;

class QtListBox : public ListBox {
public:
    explicit QtListBox(PictureList* list);

    void addRow(const QString& text) override;
    void removeRow(int index) override;
    void clear() override;
    int rowCount() const override;
    int selectedRow() const override;
    void selectRow(int index) override;
    QString rowText(int index) const override;
    void setBackgroundColor(RgbColor color) override;

    // Connects the user's choice of a row (a click on any row, or the keyboard
    // moving the selection) to `onUserClick`. Selections made from code raise
    // the click handler instead, synchronously.
    void onUserSelection(std::function<void()> onUserClick);

    PictureList* widget() const { return m_list; }

private:
    void checkRow(int index) const;
    void selectQuietly(int index);

    PictureList* m_list;
};

class QtImage : public ImageControl {
public:
    explicit QtImage(PreviewBox* box)
        : m_box(box) {}
    void setPicture(const PictureObject& picture) override;

    PreviewBox* widget() const { return m_box; }

private:
    PreviewBox* m_box;
};

class QtLabel : public LabelControl {
public:
    explicit QtLabel(QLabel* label)
        : m_label(label) {}
    QString text() const override;
    void setText(const QString& caption) override;

private:
    QLabel* m_label;
};

class QtButton : public CommandButton {
public:
    explicit QtButton(QPushButton* button)
        : m_button(button) {}
    void setEnabled(bool enabled) override;

private:
    QPushButton* m_button;
};
