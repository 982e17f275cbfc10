// SPDX-License-Identifier: MIT
#include "system/SystemMemory.h"

#include <unistd.h>

qint64 physicalMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
}
