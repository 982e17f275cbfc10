// SPDX-License-Identifier: MIT
#include "WindowState.h"

void WindowState::splitSelection(const QString& dialogResult, QChar separator) {
    selectionParts = dialogResult.split(QChar(u'\0'));

    if (selectionParts.size() > 1) {
        // A multi-selection: the directory first, then the names.
        if (!selectionParts[0].endsWith(separator))
            selectionParts[0] += separator;
        return;
    }

    // One full path: the directory keeps its trailing separator.
    const QString path = selectionParts[0];
    const qsizetype nameStart = path.lastIndexOf(separator) + 1;
    selectionParts = {path.left(nameStart), path.mid(nameStart)};
}
