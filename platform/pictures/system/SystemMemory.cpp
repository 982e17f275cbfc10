// SPDX-License-Identifier: MIT
#include "system/SystemMemory.h"

qint64 conversionMemoryBudget() {
    const qint64 physical = physicalMemoryBytes();
    return physical > 0 ? physical / 2 : qint64(2) << 30;
}
