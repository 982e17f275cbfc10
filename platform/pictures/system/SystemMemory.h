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
