// "Calculate NEW" on a study of 24 photographs of 1024 x 768 (8 teeth x 3 time points) with 1 and 2
// workers: the batch should scale with the cores, since each photograph is independent.
#include "DefaultIniFile.h"
#include "TTeeth.h"
#include "ToothScene.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QTemporaryDir& StudyFolder()
{
    static QTemporaryDir dir;
    static bool written = false;
    if (!written) {
        QDir(dir.path()).mkpath("visit");
        for (int tooth = 0; tooth < 8; ++tooth) {
            const TToothScene scene(1024, 768, uint32_t(tooth + 1));
            for (int time = 0; time < 3; ++time) {
                TTransPars p = TTransPars::Identity();
                p.Init(3.0 * time, 10.0 * time, -8.0 * time, 1, 1, 1);
                QImage image;
                scene.Render(p, 1 + 0.05 * time).GetBitmap(image);
                const QString name = QString("A%1%2.bmp").arg(11 + tooth).arg(time, 3, 10, QChar('0'));
                image.save(dir.filePath("visit/" + name), "BMP");
            }
        }
        written = true;
    }
    return dir;
}

void RemoveResults(const QString& folder)
{
    for (const QString& f : QDir(folder + "/visit").entryList({"*.sp"}))
        QFile::remove(folder + "/visit/" + f);
}

void BM_CalculateNew(benchmark::State& state)
{
    DefaultSPNumber = 400;
    DefaultCompactness = 20;
    DefaultBGThreshold = 0.5;
    DefaultRGThreshold = 0;
    const QString folder = StudyFolder().path();
    for (auto _ : state) {
        state.PauseTiming();
        RemoveResults(folder);
        TTeeth study(int32_t(state.range(0)));
        study.LoadFolder(folder);
        bool ended = false;
        state.ResumeTiming();
        study.RecalculateDefault(true, false, false, [&](bool) { ended = true; });
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.counters["photos/s"] = benchmark::Counter(24.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CalculateNew)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
