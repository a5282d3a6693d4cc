// The main window opening a large study whose photographs already have result files: the first
// opening (empty thumbnail cache: every photograph decoded) and re-openings with the cache warm,
// from the folder choice until the table is filled, with the longest time the UI thread was blocked
// and the process's peak resident memory.
//   reopen_bench STUDY_DIR [RUNS]     (offscreen: QT_QPA_PLATFORM=offscreen)
#include "DefaultIniFile.h"
#include "TForm1.h"
#include "TTeeth.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

struct TOpening {
    double Seconds = 0, LongestBlockMs = 0;
    int32_t Photographs = 0;
};

TOpening Open(const QString& Folder)
{
    TForm1 form({}, 2);
    QElapsedTimer gap, total;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, gap.nsecsElapsed());
        gap.restart();
    });
    tick.start();
    QCoreApplication::processEvents();
    total.start();
    gap.start();
    form.OpenFolder(Folder);
    while (form.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    longest = std::max(longest, gap.nsecsElapsed());
    return {total.nsecsElapsed() / 1e9, longest / 1e6, form.Study().PhotographCount()};
}

QByteArray PeakResident()
{
    QFile status("/proc/self/status");
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed();
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir config, cache;
    qputenv("APPDATA", config.path().toUtf8());
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: reopen_bench STUDY_DIR [RUNS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    OpenSettingsFile(config.path());
    TTooth::UseThumbnailCache(std::make_shared<TThumbnailCache>(cache.path()));
    const TOpening first = Open(folder);
    std::printf("first opening: %.2f s for %d photographs (%.3f s each), longest UI block %.0f ms\n",
                first.Seconds, first.Photographs, first.Seconds / std::max(1, first.Photographs),
                first.LongestBlockMs);
    std::vector<double> seconds, blocks;
    for (int i = 0; i < runs; ++i) {
        const TOpening o = Open(folder);
        seconds.push_back(o.Seconds);
        blocks.push_back(o.LongestBlockMs);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(blocks.begin(), blocks.end());
    std::printf("re-opening with a warm cache: median %.3f s of %d runs (%.1f ms per photograph), "
                "median longest UI block %.0f ms\n",
                seconds[seconds.size() / 2], runs, 1000 * seconds[seconds.size() / 2] / std::max(1, first.Photographs),
                blocks[blocks.size() / 2]);
    std::printf("peak resident memory: %s\n", PeakResident().constData());
    CloseSettingsFile();
    return 0;
}
