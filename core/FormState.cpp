// SPDX-License-Identifier: MIT
#include "FormState.h"

void FormState::Splitfn(const QString& dialogResult, QChar separator) {
    FileParts = dialogResult.split(QChar(u'\0'));

    if (FileParts.size() > 1) {
        // A multi-selection: the directory first, then the names.
        if (!FileParts[0].endsWith(separator))
            FileParts[0] += separator;
        return;
    }

    // One full path: the directory keeps its trailing separator.
    const QString path = FileParts[0];
    const qsizetype nameStart = path.lastIndexOf(separator) + 1;
    FileParts = {path.left(nameStart), path.mid(nameStart)};
}
