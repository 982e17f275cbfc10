// SPDX-License-Identifier: MIT
#pragma once

class QCoreApplication;

// Qt's own texts (dialog buttons, the file and folder dialogs) in Simplified
// Chinese, whatever the system locale.
void installChineseTranslations(QCoreApplication& app);
