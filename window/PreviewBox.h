// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

#include <QImage>
#include <QWidget>

// The preview: a picture scaled down to fit the box with its aspect kept,
// centred; a smaller picture is shown at its natural size.
class PreviewBox : public QWidget {
    Q_OBJECT

public:
    explicit PreviewBox(QWidget* parent = nullptr);

    PictureObject picture() const { return m_picture; }
    void setPicture(const PictureObject& picture);

    // What is drawn, already fitted to the box; null when empty.
    const QImage& shownImage() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PictureObject m_picture;
    QImage m_shown;
};

// A QImage view of a picture for drawing (16-bit samples become 8-bit).
QImage toQImage(const Picture& picture);
