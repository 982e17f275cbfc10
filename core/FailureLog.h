// SPDX-License-Identifier: MIT
// The developer's side of every failure the user is told about: the user reads
// the cause in Chinese, the log gets the codec's or the system's own words.
// Warnings of this category are on by default and go to standard error.
#pragma once

#include "PlatformError.h"

#include <QLoggingCategory>

#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcFailures)

// One line: the file (in the system's notation), the kind of failure and its
// detail.
void logFailure(const QString& fileName, const PlatformError& error);

// One line for a failure no handler expected: what the exception says.
void logUnexpectedFailure(const std::exception& error);
