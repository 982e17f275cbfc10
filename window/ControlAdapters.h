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

    void AddItem(const QString& text) override;
    void RemoveItem(int index) override;
    void Clear() override;
    int ListCount() const override;
    int ListIndex() const override;
    void setListIndex(int index) override;
    QString List(int index) const override;
    void setBackColor(RgbColor color) override;

    // Connects the user's choice of a row (a click on any row, or the keyboard
    // moving the selection) to `onUserClick`. Selections made from code raise
    // the click handler instead, synchronously.
    void onUserSelection(std::function<void()> onUserClick);

private:
    void checkRow(int index) const;
    void selectQuietly(int index);

    PictureList* m_list;
};

class QtImage : public ImageControl {
public:
    explicit QtImage(PreviewBox* box)
        : m_box(box) {}
    PictureObject Picture() const override;
    void setPicture(const PictureObject& picture) override;

private:
    PreviewBox* m_box;
};

class QtLabel : public LabelControl {
public:
    explicit QtLabel(QLabel* label)
        : m_label(label) {}
    QString Caption() const override;
    void setCaption(const QString& caption) override;

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
