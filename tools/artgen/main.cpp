// hakop-artgen OUTDIR: draws every picture of the program into OUTDIR
// (OUTDIR/frames/Image1.png ... Image48.png and the dialog pictures).
// hakop-artgen --draft OUTDIR writes the frames even if one has drifted from
// its required extent, to look at work in progress.
#include "DialogArt.h"
#include "Frames.h"

#include <QDir>
#include <QString>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    const bool draft = argc == 3 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--draft");
    if (argc != 2 && !draft) {
        std::fprintf(stderr, "usage: hakop-artgen [--draft] OUTDIR\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[argc - 1]);
    try {
        if (!QDir().mkpath(outDir)) {
            std::fprintf(stderr, "hakop-artgen: cannot create %s\n", argv[argc - 1]);
            return 1;
        }
        const QString error = hakop::art::writeFrames(outDir, !draft);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "hakop-artgen: %s\n", qPrintable(error));
            return 1;
        }
        hakop::art::drawDialogPictures(outDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hakop-artgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
