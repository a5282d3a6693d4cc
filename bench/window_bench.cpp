// The main window on a study of 96 photographs of 1024 x 768 that already have result files:
// opening it (from the folder choice until the table is filled) with 1 and 2 workers, the longest
// time the UI thread is blocked meanwhile, and painting the visible table at 128-pixel cells.
#include "DefaultIniFile.h"
#include "TForm1.h"
#include "TTeeth.h"
#include "ToothScene.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

constexpr int Teeth = 16, Times = 6;

// Rendered and calculated once: the bitmaps and their result files.
const QString& StudyFolder()
{
    static QTemporaryDir dir;
    static bool written = false;
    if (!written) {
        for (int time = 0; time < Times; ++time) {
            QDir(dir.path()).mkpath(QString("visit%1").arg(time));
            for (int tooth = 0; tooth < Teeth; ++tooth) {
                TTransPars p = TTransPars::Identity();
                p.Init(2.0 * time, 6.0 * time, -4.0 * time, 1, 1, 1);
                QImage image;
                TToothScene(1024, 768, uint32_t(tooth + 1)).Render(p, 1 + 0.02 * time).GetBitmap(image);
                image.save(dir.filePath(QString("visit%1/P%2%3.bmp").arg(time).arg(11 + tooth).arg(time, 3, 10, QChar('0'))),
                           "BMP");
            }
        }
        TTeeth study;
        study.LoadFolder(dir.path());
        bool ended = false;
        study.RecalculateDefault(true, true, false, [&](bool) { ended = true; });
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        written = true;
    }
    static const QString path = dir.path();
    return path;
}

void BM_OpenStudy(benchmark::State& state)
{
    const QString folder = StudyFolder();
    double worstBlock = 0;
    for (auto _ : state) {
        TForm1 form({}, int32_t(state.range(0)));
        // A zero-interval timer fires at every pass of the event loop: the longest gap between two
        // firings is the longest time the window could not react.
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
        form.OpenFolder(folder);
        while (form.Busy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents(); // the filled table's first layout
        longest = std::max(longest, gap.nsecsElapsed());
        state.SetIterationTime(total.nsecsElapsed() / 1e9);
        worstBlock = std::max(worstBlock, longest / 1e6);
        if (form.Study().PhotographCount() != Teeth * Times)
            state.SkipWithError("the study did not load whole");
    }
    state.counters["max_block_ms"] = worstBlock;
}
BENCHMARK(BM_OpenStudy)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PaintTable(benchmark::State& state)
{
    TForm1 form;
    form.resize(1128, 747);
    form.show();
    form.OpenFolder(StudyFolder());
    while (form.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    auto* table = form.findChild<QTableView*>("Table");
    auto* cellSize = form.findChild<QScrollBar*>("CellSize");
    cellSize->setValue(128);
    QCoreApplication::processEvents();
    const bool cold = state.range(0) != 0;
    for (auto _ : state) {
        if (cold) {
            // A new cell size makes every visible thumbnail be scaled again.
            state.PauseTiming();
            cellSize->setValue(cellSize->value() == 128 ? 129 : 128);
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
        table->viewport()->repaint();
    }
}
BENCHMARK(BM_PaintTable)->ArgName("after_resize")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("APPDATA", config.path().toUtf8());
    QApplication app(argc, argv);
    OpenSettingsFile(config.path());
    LoadDefaultParams();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseSettingsFile();
    return 0;
}
