// SPDX-License-Identifier: MIT
#include "MagickSetup.h"

#include "SystemMemory.h"

#include <Magick++.h>
#include <lcms2.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

// The pixel cache counts bytes against its "area" limit: 16-bit samples with
// alpha and a palette index take 10 bytes a pixel.
constexpr MagickCore::MagickSizeType kCacheBytesPerPixel = 10;

struct ResourceLimits {
    MagickCore::MagickSizeType memory;
    MagickCore::MagickSizeType map;
    MagickCore::MagickSizeType disk;
    MagickCore::MagickSizeType area;
    MagickCore::MagickSizeType side;
};

// Big pictures stay in memory: the pixel cache may take as much as the
// conversions in flight may (half the machine), then memory-mapped files,
// then a little disk; beyond that a decode fails instead of swapping the
// machine to death. Our own size checks come before the cache ever sees a
// picture (see kMaxPictureSide).
ResourceLimits resourceLimits() {
    const auto budget = MagickCore::MagickSizeType(conversionMemoryBudget());
    return {budget, budget, 1024 * kMiB,
            MagickCore::MagickSizeType(kMaxPicturePixels) * kCacheBytesPerPixel,
            MagickCore::MagickSizeType(kMaxPictureSide)};
}

// ImageMagick never lets a program raise a limit above what its policy files
// allow, and a system's policy may be made for servers (Debian's caps the
// pixel cache at 256 MiB and 128 MB, so one camera photo went to a disk
// cache). Policy files are searched in the order of their folders, the first
// value found wins, and MAGICK_CONFIGURE_PATH comes first: so a policy file of
// ours, read once while the codec starts, sets our limits. The system's coder
// rules still apply, and ours on top of them (kSecurityPolicy).
void initialiseWithOurLimits(const ResourceLimits& limits) {
    QTemporaryDir folder;
    QFile policy(folder.filePath(QStringLiteral("policy.xml")));
    const bool written =
        folder.isValid() && policy.open(QIODevice::WriteOnly) &&
        policy.write(QStringLiteral("<policymap>\n"
                                    "  <policy domain=\"resource\" name=\"memory\" value=\"%1\"/>\n"
                                    "  <policy domain=\"resource\" name=\"map\" value=\"%2\"/>\n"
                                    "  <policy domain=\"resource\" name=\"disk\" value=\"%3\"/>\n"
                                    "  <policy domain=\"resource\" name=\"area\" value=\"%4\"/>\n"
                                    "  <policy domain=\"resource\" name=\"width\" value=\"%5\"/>\n"
                                    "  <policy domain=\"resource\" name=\"height\" value=\"%5\"/>\n"
                                    "</policymap>\n")
                         .arg(limits.memory)
                         .arg(limits.map)
                         .arg(limits.disk)
                         .arg(limits.area)
                         .arg(limits.side)
                         .toUtf8()) > 0 &&
        policy.flush();
    policy.close();
    const QByteArray previous = qgetenv("MAGICK_CONFIGURE_PATH");
    const bool hadPrevious = qEnvironmentVariableIsSet("MAGICK_CONFIGURE_PATH");
    if (written) {
        // ImageMagick takes paths on Windows as UTF-8 (and opens them with the
        // wide-character API), not in the ANSI code page of encodeName: a
        // temporary folder under a Chinese user name must still be found.
#ifdef Q_OS_WIN
        QByteArray path = QDir::toNativeSeparators(folder.path()).toUtf8();
#else
        QByteArray path = QFile::encodeName(folder.path());
#endif
        if (hadPrevious)
            path += QDir::listSeparator().toLatin1() + previous;
        qputenv("MAGICK_CONFIGURE_PATH", path);
    }
    Magick::InitializeMagick(nullptr);
    // The policy files are read on first use; make that now, while ours is
    // there to be read.
    MagickCore::RelinquishMagickMemory(MagickCore::GetPolicyValue("memory"));
    if (hadPrevious)
        qputenv("MAGICK_CONFIGURE_PATH", previous);
    else
        qunsetenv("MAGICK_CONFIGURE_PATH");
}

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
    const ResourceLimits limits = resourceLimits();
    initialiseWithOurLimits(limits);

    ExceptionInfo* exception = AcquireExceptionInfo();
    const bool policyInstalled = SetMagickSecurityPolicy(kSecurityPolicy, exception) == MagickTrue;
    if (!policyInstalled)
        g_failure = QStringLiteral("the codec's security policy could not be installed: %1")
                        .arg(QString::fromLocal8Bit(exception->reason ? exception->reason : ""));
    DestroyExceptionInfo(exception);

    // The limits are per process, shared by the workers.
    SetMagickResourceLimit(MemoryResource, limits.memory);
    SetMagickResourceLimit(MapResource, limits.map);
    SetMagickResourceLimit(DiskResource, limits.disk);
    SetMagickResourceLimit(AreaResource, limits.area);
    SetMagickResourceLimit(WidthResource, limits.side);
    SetMagickResourceLimit(HeightResource, limits.side);
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
