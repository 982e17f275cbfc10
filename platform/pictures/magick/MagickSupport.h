// SPDX-License-Identifier: MIT
// What the ImageMagick decoding and encoding share: owning handles, the
// codec's failures in our terms, and stopping its long operations.
#pragma once

#include "PlatformError.h"

#include <Magick++.h>

#include <QString>

#include <memory>
#include <stop_token>

struct ImageInfoDeleter {
    void operator()(MagickCore::ImageInfo* p) const { MagickCore::DestroyImageInfo(p); }
};
struct ExceptionDeleter {
    void operator()(MagickCore::ExceptionInfo* p) const { MagickCore::DestroyExceptionInfo(p); }
};
struct ImageListDeleter {
    void operator()(MagickCore::Image* p) const { MagickCore::DestroyImageList(p); }
};
using ImageInfoPtr = std::unique_ptr<MagickCore::ImageInfo, ImageInfoDeleter>;
using ImageList = std::unique_ptr<MagickCore::Image, ImageListDeleter>;
using ExceptionPtr = std::unique_ptr<MagickCore::ExceptionInfo, ExceptionDeleter>;

// Whether the codec's message is about its resource limits, not damage.
bool isLimitMessage(const QString& text);

// The codec's reason and description as one text.
QString codecMessage(const MagickCore::ExceptionInfo& exception);

// Throws the failure the codec's exception stands for: too large or damaged.
[[noreturn]] void failFromCodec(const QString& fileName, MagickCore::ExceptionType severity,
                                const QString& message);

// ImageMagick's progress callback: false, so the codec stops, once the stop
// token passed as client data is requested.
MagickCore::MagickBooleanType keepGoing(const char*, const MagickCore::MagickOffsetType,
                                        const MagickCore::MagickSizeType, void* stop);

// Lets a stop request end ImageMagick's work on the image (and its copies).
// The token must outlive the image.
void watchStop(Magick::Image& image, const std::stop_token& stop);
