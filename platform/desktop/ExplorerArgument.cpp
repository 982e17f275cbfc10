// SPDX-License-Identifier: MIT
#include "ExplorerArgument.h"

QString explorerArgument(const QString& folder) {
    QString native = folder;
    native.replace(u'/', u'\\');
    // A closing backslash would escape the closing quote ("D:\" is read as
    // D:" ); a drive root keeps its meaning as D:\. instead.
    if (native.endsWith(u'\\'))
        native += u'.';
    return u'"' + native + u'"';
}
