// SPDX-License-Identifier: MIT
// In-memory controls with the behaviour the handlers rely on.
#pragma once

#include "Controls.h"
#include "PlatformError.h"

#include <QStringList>

class FakeListBox : public ListBox {
public:
    QStringList rows;
    int selected = -1;
    RgbColor backColor;

    void addRow(const QString& text) override { rows.append(text); }
    void removeRow(int index) override {
        checkRow(index);
        rows.removeAt(index);
        if (selected == index)
            selected = -1;
        else if (selected > index)
            --selected;
    }
    void clear() override {
        rows.clear();
        selected = -1;
    }
    int rowCount() const override { return int(rows.size()); }
    int selectedRow() const override { return selected; }
    void selectRow(int index) override {
        checkRow(index);
        selected = index;
        raiseClick();
    }
    QString rowText(int index) const override {
        return index == -1 ? QString() : rows.value(index);
    }
    void setBackgroundColor(RgbColor color) override { backColor = color; }

private:
    void checkRow(int index) const {
        if (index < 0 || index >= rows.size())
            throw PlatformError(FailureKind::NoSuchRow, QString::number(index));
    }
};

class FakeImage : public ImageControl {
public:
    PictureObject shown;
    void setPicture(const PictureObject& picture) override { shown = picture; }
};

class FakeLabel : public LabelControl {
public:
    QString caption;
    QString text() const override { return caption; }
    void setText(const QString& text) override { caption = text; }
};

class FakeButton : public CommandButton {
public:
    bool enabled = true;
    void setEnabled(bool on) override { enabled = on; }
};
