// SPDX-License-Identifier: MIT
#include "VelmoraResources.h"

#include <QFile>

namespace VelmoraResources {

bool allPresent() {
    for (QStringView path : {kBackground, kIcon, kIcon32, kIcon48}) {
        if (!QFile::exists(path.toString())) {
            return false;
        }
    }
    return true;
}

} // namespace VelmoraResources
