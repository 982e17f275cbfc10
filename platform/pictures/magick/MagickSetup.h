// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// One-time set-up of the codec library for the whole process: initialisation,
// the coder allow-list and the resource limits. Safe to call from any thread,
// as often as wanted; only the first call does the work. The codec is not
// started when the policy files leave it rights other than ours (a format we
// convert refused, or a script, document or delegate allowed).
// Returns an empty string when the codec is ready, else why it is not.
QString prepareMagick();

// An sRGB colour profile, the target when CMYK or Lab pictures are converted.
// Built once by prepareMagick() and never changed afterwards.
const QByteArray& srgbIccProfile();
