// SPDX-License-Identifier: MIT
#include "MagickSetup.h"

#include <Magick++.h>
#include <lcms2.h>

#include <mutex>

namespace {

// Only the formats we convert are allowed, under every name ImageMagick may be
// asked for them by; PSD and DCX are read only. Everything else, including all
// delegates (external programs), every filter module and indirect "@file"
// reads, is refused. Rules are applied in order, the last match wins, so the
// blanket refusal comes first.
constexpr char kSecurityPolicy[] = R"(<policymap>
  <policy domain="delegate" rights="none" pattern="*"/>
  <policy domain="filter" rights="none" pattern="*"/>
  <policy domain="path" rights="none" pattern="@*"/>
  <policy domain="coder" rights="none" pattern="*"/>
  <policy domain="coder" rights="read|write" pattern="{JPEG,JPG,JPE,BMP,BMP2,BMP3,GIF,GIF87,PCX,PNG,PNG8,PNG24,PNG32,PNG48,PNG64,PNG00,ICO,ICON,TIFF,TIF,TIFF64}"/>
  <policy domain="coder" rights="read" pattern="{PSD,DCX}"/>
</policymap>
)";

constexpr MagickCore::MagickSizeType kMiB = 1024 * 1024;

QString g_failure;
QByteArray g_srgbProfile;
std::once_flag g_once;

QByteArray makeSrgbProfile() {
    QByteArray bytes;
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    if (!profile)
        return bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes;
}

void setUp() {
    using namespace MagickCore;
    Magick::InitializeMagick(nullptr);

    ExceptionInfo* exception = AcquireExceptionInfo();
    const bool policyInstalled = SetMagickSecurityPolicy(kSecurityPolicy, exception) == MagickTrue;
    if (!policyInstalled)
        g_failure = QStringLiteral("the codec's security policy could not be installed: %1")
                        .arg(QString::fromLocal8Bit(exception->reason ? exception->reason : ""));
    DestroyExceptionInfo(exception);

    // The picture cache may use this much memory, then memory-mapped files,
    // then disk; beyond that a decode fails instead of swapping the machine to
    // death. The limits are per process and the system policy may lower them.
    SetMagickResourceLimit(MemoryResource, 256 * kMiB);
    SetMagickResourceLimit(MapResource, 512 * kMiB);
    SetMagickResourceLimit(DiskResource, 1024 * kMiB);
    SetMagickResourceLimit(AreaResource, kMaxPicturePixels);
    SetMagickResourceLimit(WidthResource, kMaxPictureSide);
    SetMagickResourceLimit(HeightResource, kMaxPictureSide);
    SetMagickResourceLimit(ListLengthResource, 256);
    // Pictures are converted in parallel by our own workers.
    SetMagickResourceLimit(ThreadResource, 1);

    g_srgbProfile = makeSrgbProfile();
}

} // namespace

QString prepareMagick() {
    std::call_once(g_once, setUp);
    return g_failure;
}

const QByteArray& srgbIccProfile() {
    prepareMagick();
    return g_srgbProfile;
}
