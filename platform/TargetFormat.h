// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

#include <array>
#include <cstddef>

// The formats pictures are converted to, in the order of the convert buttons.
enum class TargetFormat { Jpg, Bmp, Gif, Pcx, Png, Ico, Tiff };

// Everything that differs between the target formats outside the encoders:
// one row a format, in the order of the enum.
struct TargetFormatInfo {
    TargetFormat format;
    // What an output file in the format ends in. Lower case; TIFF is the
    // one with four letters.
    QStringView extension;
    // The caption of the format's convert button.
    QStringView caption;
    // The ImageMagick coder that writes it. BMP3 is the plain Windows bitmap
    // every reader knows; without alpha there is nothing the newer headers
    // would add.
    const char* magickCoder;
    bool keepsAlpha;  // keeps transparency (the others are flattened onto white)
    bool holds16Bits; // keeps 16-bit samples
    bool holdsIcc;    // carries a colour profile
};

inline constexpr std::array<TargetFormatInfo, 7> kTargetFormatTable{{
    {TargetFormat::Jpg, u".jpg", u"JPG保存路径", "JPEG", false, false, true},
    {TargetFormat::Bmp, u".bmp", u"BMP保存路径", "BMP3", false, false, false},
    {TargetFormat::Gif, u".gif", u"GIF保存路径", "GIF", true, false, false},
    {TargetFormat::Pcx, u".pcx", u"PCX保存路径", "PCX", false, false, false},
    {TargetFormat::Png, u".png", u"PNG保存路径", "PNG", true, true, true},
    {TargetFormat::Ico, u".ico", u"ICO保存路径", "ICO", true, false, false},
    {TargetFormat::Tiff, u".tiff", u"TIFF保存路径", "TIFF", true, true, true},
}};

inline constexpr std::array<TargetFormat, kTargetFormatTable.size()> kTargetFormats = [] {
    std::array<TargetFormat, kTargetFormatTable.size()> formats{};
    for (std::size_t i = 0; i < formats.size(); ++i)
        formats[i] = kTargetFormatTable[i].format;
    return formats;
}();

constexpr const TargetFormatInfo& infoOf(TargetFormat format) {
    return kTargetFormatTable[static_cast<std::size_t>(format)];
}

// What an output file in the format ends in: ".jpg", ..., ".tiff".
constexpr QStringView extensionOf(TargetFormat format) {
    return infoOf(format).extension;
}

// Each row stands at its format's place.
static_assert([] {
    for (std::size_t i = 0; i < kTargetFormatTable.size(); ++i)
        if (static_cast<std::size_t>(kTargetFormatTable[i].format) != i)
            return false;
    return true;
}());
