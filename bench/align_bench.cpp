// One alignment of a 1024 x 768 photograph onto its reference: reduction, grid of starts and the
// simplex search, as the batch runs it for every later photograph of a tooth.
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

void BM_AlignPair(benchmark::State& state)
{
    const TDisplacement& d = Displacements[state.range(0)];
    const TToothScene scene(1024, 768, 5);
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
BENCHMARK(BM_AlignPair)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
