// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

#include <QString>

#include <functional>

// The members of the window's controls that the handlers use. The window
// adapts its Qt widgets to these; tests use fakes.

struct RgbColor {
    int red = 0;
    int green = 0;
    int blue = 0;
};

class ListBox {
public:
    using ClickHandler = std::function<void()>;

    virtual ~ListBox() = default;

    virtual void addRow(const QString& text) = 0;
    // Throws PlatformError(NoSuchRow) when index names no row (also for -1).
    virtual void removeRow(int index) = 0;
    virtual void clear() = 0;
    virtual int rowCount() const = 0;
    // The selected row, or -1.
    virtual int selectedRow() const = 0;
    // Selects a row and raises the click handler before returning, exactly as a
    // user click does. Throws PlatformError(NoSuchRow) for an index with no row.
    virtual void selectRow(int index) = 0;
    // The text of a row; -1 gives an empty text.
    virtual QString rowText(int index) const = 0;
    virtual void setBackgroundColor(RgbColor color) = 0;

    void setClickHandler(ClickHandler handler) { m_click = std::move(handler); }

protected:
    void raiseClick() {
        if (m_click)
            m_click();
    }

private:
    ClickHandler m_click;
};

class ImageControl {
public:
    virtual ~ImageControl() = default;
    // The empty picture (nullptr) clears the control.
    virtual void setPicture(const PictureObject& picture) = 0;
};

class LabelControl {
public:
    virtual ~LabelControl() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& caption) = 0;
};

class CommandButton {
public:
    virtual ~CommandButton() = default;
    virtual void setEnabled(bool enabled) = 0;
};
