// Interactive costs of the photograph model: the editor runs Appraise (with its save) on every
// slider step and re-renders through Transform whenever the alignment is moved.
#include "TTooth.h"

#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>

namespace {

constexpr int32_t W = 1024, H = 768;

// A tooth-like scene: dark background, a green ellipse with red patches, mild noise.
QImage Scene()
{
    QImage im(W, H, QImage::Format_RGB32);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-8, 8);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double dx = (x - W / 2.0) / (W * 0.3), dy = (y - H / 2.0) / (H * 0.35);
            int r = 20, g = 15, b = 10;
            if (dx * dx + dy * dy < 1) {
                g = 190;
                r = 60;
                if ((x / 90 + y / 70) % 4 == 0)
                    r = 200, g = 90;
            }
            im.setPixel(x, y, qRgb(std::clamp(r + noise(rng), 0, 255), std::clamp(g + noise(rng), 0, 255),
                                   std::clamp(b + noise(rng), 0, 255)));
        }
    return im;
}

struct TBenchTooth {
    QTemporaryDir dir;
    std::unique_ptr<TTooth> tooth;

    TBenchTooth()
    {
        const QString path = dir.filePath("A11000.bmp");
        Scene().save(path, "BMP");
        tooth = std::make_unique<TTooth>(path, 11);
        // 400 superpixels as a 20 x 20 grid of blocks.
        tooth->labels.resize(size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                tooth->labels[size_t(x + y * W)] = (y * 20 / H) * 20 + x * 20 / W;
        tooth->numlabels = 400;
        tooth->BuildSuperPixelTable();
        tooth->Dirty.resize(tooth->labels.size());
        tooth->BGThreshold = 0.5;
    }
};

void BM_Appraise(benchmark::State& state)
{
    TBenchTooth b;
    int step = 0;
    for (auto _ : state) {
        b.tooth->RGThreshold = (step++ % 200 - 100) / 100.0; // a slider sweep
        b.tooth->Appraise();
    }
}
BENCHMARK(BM_Appraise)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Transform(benchmark::State& state)
{
    TBenchTooth b;
    TTransPars p = TTransPars::Identity();
    p.Init(7.5, 12.25, -8.5, 1.02, 0.98, 1);
    TIntImage out;
    for (auto _ : state) {
        b.tooth->Raw.Transform(p, out);
        benchmark::DoNotOptimize(out.img.data());
    }
}
BENCHMARK(BM_Transform)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
