// SPDX-License-Identifier: MIT
#include "system/SystemMemory.h"

#include <sys/mman.h>
#include <unistd.h>

qint64 physicalMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
}

void prepareForWriting(void* data, qsizetype size) {
#ifdef MADV_POPULATE_WRITE
    // Whole pages inside the buffer only; the edges fault as usual.
    const auto pageSize = quintptr(::sysconf(_SC_PAGESIZE));
    if (size < qsizetype(pageSize) * 16)
        return;
    const quintptr first = (quintptr(data) + pageSize - 1) & ~(pageSize - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(pageSize - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}
