// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

// Paths of the pictures compiled into the program (resources/velmora.qrc).
namespace VelmoraResources {

// 1024x768 night sky behind the main window.
inline constexpr QStringView kBackground = u":/velmora/background.jpg";
// Window icon: 32x32 and 48x48.
inline constexpr QStringView kIcon = u":/velmora/velmora.ico";
inline constexpr QStringView kIcon32 = u":/velmora/velmora-32.png";
inline constexpr QStringView kIcon48 = u":/velmora/velmora-48.png";

// True when every picture above can be opened, i.e. the resources were linked in.
bool allPresent();

} // namespace VelmoraResources
