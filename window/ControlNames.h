// SPDX-License-Identifier: MIT
// The object names of the window and its controls: the window gives each
// control its name and finds its own buttons by it; the tests and the bench
// find what they press and read by the same names.
#pragma once

#include "TargetFormat.h"

#include <QLatin1StringView>

#include <array>
#include <cstddef>

namespace ControlNames {

inline constexpr QLatin1StringView kWindow("Form1");
inline constexpr QLatin1StringView kOpenButton("Command7");     // 打开图片
inline constexpr QLatin1StringView kDeleteButton("Command1");   // 删除图片
inline constexpr QLatin1StringView kAddButton("Command2");      // 添加图片
inline constexpr QLatin1StringView kViewOutputButton("CmdCha"); // 立即查看
inline constexpr QLatin1StringView kListCaption("Label1");      // 文件列表：
inline constexpr QLatin1StringView kPictureList("List1");
inline constexpr QLatin1StringView kPreviewCaption("Label2"); // 图片预览 ：
inline constexpr QLatin1StringView kPreview("Picture1");
// Hidden: it keeps the folder of the latest selection in the file dialog.
inline constexpr QLatin1StringView kSelectionFolder("Label3");

// The convert buttons form one array, indexed as the target formats are
// (0 JPG, 1 BMP, ...); the column shows them in another order.
inline constexpr std::array<QLatin1StringView, 7> kConvertButtons{
    QLatin1StringView("zhuanhuan(0)"), QLatin1StringView("zhuanhuan(1)"),
    QLatin1StringView("zhuanhuan(2)"), QLatin1StringView("zhuanhuan(3)"),
    QLatin1StringView("zhuanhuan(4)"), QLatin1StringView("zhuanhuan(5)"),
    QLatin1StringView("zhuanhuan(6)"),
};

constexpr QLatin1StringView convertButton(TargetFormat format) {
    return kConvertButtons[static_cast<std::size_t>(format)];
}

} // namespace ControlNames
