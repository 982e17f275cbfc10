// SPDX-License-Identifier: MIT
#include "PreviewBox.h"

#include <QPainter>

namespace {
// Drawing needs 8-bit samples; the top byte of a 16-bit sample is its 8-bit value.
QByteArray to8Bit(const Picture& picture) {
    const auto* wide = reinterpret_cast<const quint16*>(picture.pixels.constData());
    QByteArray narrow(picture.pixels.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < narrow.size(); ++i)
        narrow[i] = char(wide[i] >> 8);
    return narrow;
}
} // namespace

QImage toQImage(const Picture& picture) {
    QImage::Format format = QImage::Format_RGB888;
    switch (picture.channels) {
    case Picture::Channels::Gray:
        format = QImage::Format_Grayscale8;
        break;
    case Picture::Channels::Rgb:
        format = QImage::Format_RGB888;
        break;
    case Picture::Channels::Rgba:
        format = QImage::Format_RGBA8888;
        break;
    }
    const QByteArray samples = picture.bitsPerSample == 16 ? to8Bit(picture) : picture.pixels;
    const int bytesPerLine = picture.width * picture.channelCount();
    if (picture.width <= 0 || picture.height <= 0 ||
        samples.size() < qsizetype(bytesPerLine) * picture.height)
        return {};
    // The view shares the samples; copy() detaches it from them.
    return QImage(reinterpret_cast<const uchar*>(samples.constData()), picture.width,
                  picture.height, bytesPerLine, format)
        .copy();
}

PreviewBox::PreviewBox(QWidget* parent)
    : QWidget(parent) {}

void PreviewBox::setPicture(const PictureObject& picture) {
    m_picture = picture;
    m_shown = {};
    if (picture) {
        const QImage image = toQImage(*picture);
        const bool fits = image.width() <= width() && image.height() <= height();
        m_shown =
            fits ? image : image.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    update();
}

void PreviewBox::paintEvent(QPaintEvent*) {
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    const QRect target(QPoint(0, 0), m_shown.size());
    painter.drawImage(target.translated(rect().center() - target.center()), m_shown);
}
