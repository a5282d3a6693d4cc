// One alignment of a 1024 x 768 or 4000 x 3000 photograph onto its reference: reduction, grid of
// starts and the simplex search, as the batch runs it for every later photograph of a tooth.
#include "TSuperpose.h"
#include "ToothScene.h"

#include <benchmark/benchmark.h>

namespace {

struct TDisplacement {
    double Angle, Shiftx, Shifty, Brightness;
};

// Within what the grid of starts covers: up to 15 degrees and a tenth of the width.
constexpr TDisplacement Displacements[] = {
    {8, 40, -25, 1.07},
    {-13, -90, 60, 0.9},
    {2, 15, 95, 1.12},
};

struct TSize {
    int32_t Width, Height;
};
constexpr TSize Sizes[] = {{1024, 768}, {4000, 3000}};

// Arguments: size, displacement. Shifts are given for 1024 pixels of width and grow with it.
void BM_AlignPair(benchmark::State& state)
{
    const TSize& size = Sizes[state.range(0)];
    TDisplacement d = Displacements[state.range(1)];
    d.Shiftx *= size.Width / 1024.0;
    d.Shifty *= size.Width / 1024.0;
    const TToothScene scene(size.Width, size.Height, 5);
    const TIntImage reference = scene.Render();
    TTransPars truth;
    truth.Init(d.Angle, d.Shiftx, d.Shifty, 1, 1, 1);
    const TIntImage photo = scene.Render(truth, d.Brightness);
    TTransPars pars;
    for (auto _ : state) {
        pars = TTransPars::Identity();
        const TSuperpose fit(reference, photo, pars, false, {});
        benchmark::DoNotOptimize(pars);
    }
    int evaluations = 0;
    pars = TTransPars::Identity();
    const TSuperpose counted(reference, photo, pars, false,
                             [&](const TIntImage&, const TIntImage&) { ++evaluations; });
    state.counters["evaluations"] = evaluations;
    state.counters["angle_error"] = std::abs(pars.fAngle - truth.fAngle);
    state.counters["shift_error_px"] = std::hypot(pars.Shiftx - truth.Shiftx, pars.Shifty - truth.Shifty);
}
BENCHMARK(BM_AlignPair)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
