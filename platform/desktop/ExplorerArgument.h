// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The command line Explorer is given to open a folder: the folder with
// Windows separators as one argument in quotes. Explorer is started directly,
// with no shell in between, so "&", "^" and "%" in a name mean nothing; Windows
// allows no '"' in a name, so the quotes cannot be closed early. Pure, so it
// is tested on every system.
QString explorerArgument(const QString& folder);
