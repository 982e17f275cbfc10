// SPDX-License-Identifier: MIT
// How much memory the machine has, for the limits that follow it.
#pragma once

#include <QtGlobal>

// The machine's physical memory in bytes; 0 when the system does not say.
qint64 physicalMemoryBytes();

// What conversions in flight may use together: half of the physical memory,
// the other half left to the system and the other programs; 2 GiB when the
// system does not say.
qint64 conversionMemoryBudget();

// Asks the system to give a large buffer that is about to be written whole
// all its pages at once: cheaper than a fault on each page as it is first
// written. Does nothing where the system cannot, or for a small buffer.
void prepareForWriting(void* data, qsizetype size);
