// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

#include <array>

// The formats pictures are converted to, in the order of the convert buttons.
enum class TargetFormat { Jpg, Bmp, Gif, Pcx, Png, Ico, Tiff };

inline constexpr std::array<TargetFormat, 7> kTargetFormats{
    TargetFormat::Jpg, TargetFormat::Bmp, TargetFormat::Gif,  TargetFormat::Pcx,
    TargetFormat::Png, TargetFormat::Ico, TargetFormat::Tiff,
};

// What an output file in the format ends in: ".jpg", ..., ".tiff". Lower case;
// TIFF is the one with four letters.
constexpr QStringView extensionOf(TargetFormat format) {
    switch (format) {
    case TargetFormat::Jpg:
        return u".jpg";
    case TargetFormat::Bmp:
        return u".bmp";
    case TargetFormat::Gif:
        return u".gif";
    case TargetFormat::Pcx:
        return u".pcx";
    case TargetFormat::Png:
        return u".png";
    case TargetFormat::Ico:
        return u".ico";
    case TargetFormat::Tiff:
        return u".tiff";
    }
    return {};
}
