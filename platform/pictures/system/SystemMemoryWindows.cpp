// SPDX-License-Identifier: MIT
#include "system/SystemMemory.h"

#include <windows.h>

qint64 physicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    return GlobalMemoryStatusEx(&status) ? qint64(status.ullTotalPhys) : 0;
}

// Pages are taken as they are first written.
void prepareForWriting(void*, qsizetype) {}
