// SPDX-License-Identifier: MIT
#include "magick/MagickSetup.h"

#include "input/PictureLimits.h"

#include "system/SystemMemory.h"

#include <Magick++.h>
#include <lcms2.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <mutex>

namespace {

// Only the formats we convert are allowed, under every name ImageMagick may be
// asked for them by; PSD and DCX are read only. Everything else, including all
// delegates (external programs), every filter module and indirect "@file"
// reads, is refused. Rules are applied in order, the last match wins, so the
// blanket refusal comes first.
constexpr char kSecurityRules[] = R"(
  <policy domain="delegate" rights="none" pattern="*"/>
  <policy domain="filter" rights="none" pattern="*"/>
  <policy domain="path" rights="none" pattern="@*"/>
  <policy domain="coder" rights="none" pattern="*"/>
  <policy domain="coder" rights="read|write" pattern="{JPEG,JPG,JPE,BMP,BMP2,BMP3,GIF,GIF87,PCX,PNG,PNG8,PNG24,PNG32,PNG48,PNG64,PNG00,ICO,ICON,TIFF,TIF,TIFF64}"/>
  <policy domain="coder" rights="read" pattern="{PSD,DCX}"/>
)";

// What those rules must come to once every policy file has had its say: the
// names our decoding and encoding hand ImageMagick, and the ones that read
// scripts, documents or the network.
constexpr const char* kCodersRead[] = {"JPEG", "PNG",  "GIF", "BMP", "PCX",
                                       "ICO",  "TIFF", "PSD", "DCX"};
constexpr const char* kCodersWritten[] = {"JPEG", "PNG", "GIF", "BMP3", "PCX", "ICO", "TIFF"};
constexpr const char* kCodersRefused[] = {"SVG", "MSVG", "MVG", "MSL",  "TEXT", "PS",
                                          "EPS", "PDF",  "URL", "HTTP", "HTTPS"};
// ImageMagick compares a path with the rules after resolving it: this one
// names no file, so it is compared as written.
constexpr char kListFilePath[] = "@velmora-no-such-folder/list";

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

Q_LOGGING_CATEGORY(lcCodecSetup, "velmora.codec.setup")

QByteArray policyMap(const QByteArray& rules) {
    return "<policymap>\n" + rules + "\n</policymap>\n";
}

// The decode and encode names of every delegate ImageMagick lists. (The ones
// it hides serve coders we refuse anyway, such as PS, PCL, XPS and SVG, or its
// own command-line tools.)
QList<QByteArray> delegateNames() {
    using namespace MagickCore;
    QList<QByteArray> names;
    size_t count = 0;
    ExceptionInfo* exception = AcquireExceptionInfo();
    const DelegateInfo** delegates = GetDelegateInfoList("*", &count, exception);
    for (size_t i = 0; delegates && i < count; ++i)
        for (const char* name : {delegates[i]->decode, delegates[i]->encode})
            if (name)
                names += name;
    RelinquishMagickMemory(delegates);
    DestroyExceptionInfo(exception);
    return names;
}

// Every right that came out other than we asked, as "<domain> <name> <right>
// allowed|refused". A system's policy may take away a module we need, and
// where our rules are only in our own file, a later file's rule also
// overrides ours. A module is asked for with both rights at once, as
// ImageMagick asks before loading one.
QStringList rightsOtherThanOurs() {
    using namespace MagickCore;
    QStringList wrong;
    const auto expect = [&wrong](PolicyDomain domain, PolicyRights rights, const char* right,
                                 const char* name, bool allowed) {
        if ((IsRightsAuthorized(domain, rights, name) == MagickTrue) != allowed)
            wrong +=
                QStringLiteral("%1 %2 %3 %4")
                    .arg(QLatin1String(CommandOptionToMnemonic(MagickPolicyDomainOptions, domain)),
                         QLatin1String(name), QLatin1String(right),
                         QLatin1String(allowed ? "refused" : "allowed"));
    };
    const auto load = PolicyRights(ReadPolicyRights | WritePolicyRights);
    for (const char* coder : kCodersRead) {
        expect(CoderPolicyDomain, ReadPolicyRights, "read", coder, true);
        expect(ModulePolicyDomain, load, "load", coder, true);
    }
    for (const char* coder : kCodersWritten) {
        expect(CoderPolicyDomain, WritePolicyRights, "write", coder, true);
        expect(ModulePolicyDomain, load, "load", coder, true);
    }
    for (const char* coder : kCodersRefused) {
        expect(CoderPolicyDomain, ReadPolicyRights, "read", coder, false);
        expect(CoderPolicyDomain, WritePolicyRights, "write", coder, false);
    }
    expect(PathPolicyDomain, ReadPolicyRights, "read", kListFilePath, false);
    for (const QByteArray& name : delegateNames())
        expect(DelegatePolicyDomain, ExecutePolicyRights, "execute", name.constData(), false);
    wrong.removeDuplicates();
    return wrong;
}

// ImageMagick never lets a program raise a limit above what its policy files
// allow, and a system's policy may be made for servers (Debian's caps the
// pixel cache at 256 MiB and 128 MB, so one camera photo went to a disk
// cache). Policy files are searched in the order of their folders, the first
// value found wins, and MAGICK_CONFIGURE_PATH comes first: so a policy file of
// ours, read once while the codec starts, sets our limits. Our rules go in it
// too: some releases of ImageMagick 6.9.11 refuse a program's own policy once
// any policy file has been read, and there this copy is the only one.
// Rules of the files read after ours (the system's, the user's) still apply
// on top of it; what they all come to is checked once the codec is up.
void initialiseWithOurLimits(const ResourceLimits& limits) {
    QTemporaryDir folder;
    QFile policy(folder.filePath(QStringLiteral("policy.xml")));
    const QString limitRules =
        QStringLiteral("  <policy domain=\"resource\" name=\"memory\" value=\"%1\"/>\n"
                       "  <policy domain=\"resource\" name=\"map\" value=\"%2\"/>\n"
                       "  <policy domain=\"resource\" name=\"disk\" value=\"%3\"/>\n"
                       "  <policy domain=\"resource\" name=\"area\" value=\"%4\"/>\n"
                       "  <policy domain=\"resource\" name=\"width\" value=\"%5\"/>\n"
                       "  <policy domain=\"resource\" name=\"height\" value=\"%5\"/>")
            .arg(limits.memory)
            .arg(limits.map)
            .arg(limits.disk)
            .arg(limits.area)
            .arg(limits.side);
    const bool written = folder.isValid() && policy.open(QIODevice::WriteOnly) &&
                         policy.write(policyMap(limitRules.toUtf8() + kSecurityRules)) > 0 &&
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

    // Releases that take a program's policy apply it after every file's
    // rules, so ours have the last word there. Where it is refused, the copy
    // in our file stands alone; either way the check below decides.
    ExceptionInfo* exception = AcquireExceptionInfo();
    SetMagickSecurityPolicy(policyMap(kSecurityRules).constData(), exception);
    DestroyExceptionInfo(exception);
    const QStringList wrong = rightsOtherThanOurs();
    if (!wrong.isEmpty()) {
        g_failure = QStringLiteral("ImageMagick's security policy does not give the rights we "
                                   "need, so the codec is not started: %1")
                        .arg(wrong.join(QStringLiteral(", ")));
        qCWarning(lcCodecSetup).noquote() << g_failure;
    }

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
