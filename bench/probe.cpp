// temporary: not committed
#include "FastCodecs.h"
#include "GifColours.h"
#include "MagickEncoding.h"
#include "MagickSetup.h"
#include "PictureFiles.h"
#include "PictureQuality.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
static void save(const QString& p, const QByteArray& b) { QFile f(p); f.open(QIODevice::WriteOnly); f.write(b); }
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    prepareMagick();
    std::stop_token never;
    bool im = qEnvironmentVariableIsEmpty("NOIM");
    for (int i = 1; i < argc; ++i) {
        PictureObject p = loadPictureFile(QString::fromLocal8Bit(argv[i]));
        QElapsedTimer t; t.start();
        PalettePicture r = reduceColoursForGif(*p, never);
        double tr = t.nsecsElapsed() / 1e9; t.restart();
        QByteArray ours = fastcodec::encodeGif(r.width, r.height, r.palette, r.indexes, r.transparentIndex, never);
        double te = t.nsecsElapsed() / 1e9;
        save("/tmp/gifprobe/ours.gif", ours);
        quality::Score a = quality::blurredScore(*p, *loadPictureFile("/tmp/gifprobe/ours.gif"));
        printf("%s ours reduce %.3f s encode %.3f s psnr %.3f worst %.3f colours %d\n", argv[i], tr, te, a.blurredPsnr, a.worstBlockPsnr, int(r.palette.size()/3));
        if (im) {
            t.restart();
            QByteArray theirs = encodeWithMagick(*p, TargetFormat::Gif, never);
            double ti = t.nsecsElapsed() / 1e9;
            save("/tmp/gifprobe/im.gif", theirs);
            quality::Score b = quality::blurredScore(*p, *loadPictureFile("/tmp/gifprobe/im.gif"));
            printf("%s   IM %.3f s psnr %.3f worst %.3f\n", argv[i], ti, b.blurredPsnr, b.worstBlockPsnr);
        }
        fflush(stdout);
    }
}
