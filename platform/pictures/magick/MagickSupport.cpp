// SPDX-License-Identifier: MIT
#include "magick/MagickSupport.h"

// A picture within our declared limits may still need more pixel cache than
// the codec's resource limits give it (a 14000 x 14000 PNG does); ImageMagick
// then says "cache resources exhausted", which is a size, not damage.
bool isLimitMessage(const QString& text) {
    return text.contains(QLatin1String("exceeds limit"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("ExceedsLimit"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("resources exhausted"), Qt::CaseInsensitive);
}

QString codecMessage(const MagickCore::ExceptionInfo& e) {
    QString text = QString::fromLocal8Bit(e.reason ? e.reason : "unknown codec error");
    if (e.description && *e.description)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(e.description));
    return text;
}

[[noreturn]] void failFromCodec(const QString& fileName, MagickCore::ExceptionType severity,
                                const QString& message) {
    const bool tooLarge = severity == MagickCore::ResourceLimitError || isLimitMessage(message);
    failFor(tooLarge ? FailureKind::PictureTooLarge : FailureKind::NotAPicture, fileName, message);
}

// ImageMagick asks this between the rows of its long operations; the answer
// false makes it stop. The client data is the caller's stop token.
MagickCore::MagickBooleanType keepGoing(const char*, const MagickCore::MagickOffsetType,
                                        const MagickCore::MagickSizeType, void* stop) {
    return static_cast<const std::stop_token*>(stop)->stop_requested() ? MagickCore::MagickFalse
                                                                       : MagickCore::MagickTrue;
}

// Lets a stop request end ImageMagick's work on the image (and its copies).
// The token must outlive the image.
void watchStop(Magick::Image& image, const std::stop_token& stop) {
    if (!stop.stop_possible())
        return;
    image.modifyImage();
    MagickCore::SetImageProgressMonitor(image.image(), keepGoing,
                                        const_cast<std::stop_token*>(&stop));
}
