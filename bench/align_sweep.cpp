// The accuracy sweep of the alignment: rendered demo studies under each condition of the table in
// bench/README.md, every later photograph fitted onto its tooth's first one from the identity, as
// the batch does. Prints one table row per condition, then how well the alignment quality figure
// separates the good fits from the same fits moved by 1 degree or 2 reduced pixels (or more).
//
//   align_sweep [PAIRS_SCALE]    PAIRS_SCALE multiplies the number of pairs per condition (default 1)
#include "DemoScene.h"
#include "TSuperpose.h"

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

struct TCondition {
    const char* Name;
    int32_t Width, Height;
    double Noise, MaxAngle, MaxShift, MaxScale;
    int32_t Pairs;
    bool Deform;
    double MinAngle = 0; // keep only photographs turned at least this much
};

const TCondition Conditions[] = {
    {"1024 x 768, sigma 0", 1024, 768, 0, 15, 10, 0, 40, false},
    {"1024 x 768, sigma 4", 1024, 768, 4, 15, 10, 0, 40, false},
    {"1024 x 768, sigma 8", 1024, 768, 8, 15, 10, 0, 40, false},
    {"1024 x 768, sigma 14", 1024, 768, 14, 15, 10, 0, 40, false},
    {"1024 x 768, sigma 20", 1024, 768, 20, 15, 10, 0, 40, false},
    {"640 x 480, sigma 14", 640, 480, 14, 15, 10, 0, 40, false},
    {"640 x 480, sigma 20, 25 deg, 15 %", 640, 480, 20, 25, 15, 0, 40, false},
    {"2592 x 1944, sigma 14", 2592, 1944, 14, 15, 10, 0, 16, false},
    {"4000 x 3000, sigma 20, 25 deg, 15 %", 4000, 3000, 20, 25, 15, 0, 8, false},
    {"1024 x 768, sigma 8, 18 to 25 deg", 1024, 768, 8, 25, 10, 0, 40, false, 18},
    {"1024 x 768, sigma 8, 25 to 30 deg", 1024, 768, 8, 30, 10, 0, 40, false, 25},
    {"1024 x 768, sigma 8, scale +-8 %, Deformation", 1024, 768, 8, 15, 10, 8, 30, true},
};

TTransPars TruthOf(const TDemoPhoto& p)
{
    const TDemoTransform t = DemoTransform(p);
    TTransPars pars;
    pars.Init(t.Angle, t.Shiftx, t.Shifty, t.Scale, t.Scale, 1);
    return pars;
}

TIntImage Render(const TDemoOptions& o, TDemoPhoto& p)
{
    TIntImage im;
    im.Setbitmap(RenderDemoPhoto(o, p));
    return im;
}

struct TOutcome {
    double AngleError = 0, ShiftError = 0, ScaleError = 0, Ms = 0;
    int Evaluations = 0;
    bool Good = false;
    double Quality = 0;
    std::vector<double> Moved1, Moved3; // quality of the fit moved by 1 deg / 2 px, by 3 deg / 6 px
};

double Quality(const TIntImage& reference, const TIntImage& raw, const TTransPars& pars)
{
    TIntImage image;
    raw.Transform(pars, image);
    return AlignmentCorrelation(reference, image);
}

std::vector<double> MovedQualities(const TIntImage& reference, const TIntImage& raw, const TTransPars& fit,
                                   double angle, double shift)
{
    std::vector<double> q;
    const TTransPars moves[] = {
        [&] { TTransPars p = fit; p.SetAngle(fit.fAngle + angle); return p; }(),
        [&] { TTransPars p = fit; p.SetAngle(fit.fAngle - angle); return p; }(),
        [&] { TTransPars p = fit; p.Shiftx += shift; return p; }(),
        [&] { TTransPars p = fit; p.Shifty -= shift; return p; }(),
    };
    for (const TTransPars& p : moves)
        q.push_back(Quality(reference, raw, p));
    return q;
}

TOutcome FitPair(const TDemoOptions& o, TDemoPhoto first, TDemoPhoto later, bool deform)
{
    const TIntImage reference = Render(o, first), raw = Render(o, later);
    const TTransPars truth = TruthOf(later);
    TTransPars pars = TTransPars::Identity();
    TOutcome r;
    const auto t0 = std::chrono::steady_clock::now();
    {
        const TSuperpose fit(reference, raw, pars, deform,
                             [&](const TIntImage&, const TIntImage&) { ++r.Evaluations; });
    }
    r.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const double s = double(o.Width - 1) / 255;
    r.AngleError = std::abs(pars.fAngle - truth.fAngle);
    r.ShiftError = std::hypot(pars.Shiftx - truth.Shiftx, pars.Shifty - truth.Shifty) / s;
    r.ScaleError = std::max(std::abs(pars.Scalex / truth.Scalex - 1), std::abs(pars.Scaley / truth.Scaley - 1));
    r.Good = r.AngleError <= 0.5 && r.ShiftError <= 1 && (!deform || r.ScaleError <= 0.01);
    r.Quality = Quality(reference, raw, pars);
    r.Moved1 = MovedQualities(reference, raw, pars, 1, 2 * s);
    r.Moved3 = MovedQualities(reference, raw, pars, 3, 6 * s);
    return r;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Area under the ROC curve: the chance that a good fit scores above a moved one.
double Auc(const std::vector<double>& good, const std::vector<double>& bad)
{
    double wins = 0;
    for (double g : good)
        for (double b : bad)
            wins += g > b ? 1 : g == b ? 0.5 : 0;
    return good.empty() || bad.empty() ? 0 : wins / (double(good.size()) * double(bad.size()));
}

double ShareBelow(const std::vector<double>& v, double t)
{
    return double(std::count_if(v.begin(), v.end(), [&](double q) { return q < t; })) / double(v.size());
}

} // namespace

int main(int argc, char** argv)
{
    const double pairsScale = argc > 1 ? std::atof(argv[1]) : 1.0;
    std::vector<double> good, moved1, moved3;
    std::printf("| condition | pairs | within 0.5 deg and 1 reduced px | median angle error | worst | "
                "median evaluations | median ms per fit |\n|---|---|---|---|---|---|---|\n");
    for (const TCondition& c : Conditions) {
        TDemoOptions o;
        o.Width = c.Width;
        o.Height = c.Height;
        o.Noise = c.Noise;
        o.MaxAngle = c.MaxAngle;
        o.MaxShift = c.MaxShift;
        o.MaxScale = c.MaxScale;
        o.TimePoints = 2;
        o.Seed = 7000 + uint32_t(c.Width) + uint32_t(c.Noise * 10) + uint32_t(c.MaxAngle * 100);
        const int32_t pairs = std::max(1, int32_t(c.Pairs * pairsScale));
        // Draw studies until enough pairs meet the condition (teeth at most 32 per study).
        std::vector<std::pair<TDemoPhoto, TDemoPhoto>> work;
        for (uint32_t study = 0; int32_t(work.size()) < pairs; ++study) {
            o.Teeth = 32;
            o.Seed += study;
            const std::vector<TDemoPhoto> plan = PlanDemoStudy(o);
            for (size_t k = 0; k + 1 < plan.size() && int32_t(work.size()) < pairs; k += 2)
                if (std::abs(plan[k + 1].Angle) >= c.MinAngle)
                    work.push_back({plan[k], plan[k + 1]});
        }
        std::vector<TOutcome> outcomes(work.size());
        std::mutex lock;
        size_t next = 0;
        auto worker = [&] {
            for (;;) {
                size_t k;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (next == work.size())
                        return;
                    k = next++;
                }
                outcomes[k] = FitPair(o, work[k].first, work[k].second, c.Deform);
            }
        };
        std::thread a(worker), b(worker);
        a.join();
        b.join();
        std::vector<double> angles, evaluations, ms;
        int ok = 0;
        for (const TOutcome& r : outcomes) {
            ok += r.Good;
            angles.push_back(r.AngleError);
            evaluations.push_back(r.Evaluations);
            ms.push_back(r.Ms);
            if (r.Good) {
                good.push_back(r.Quality);
                moved1.insert(moved1.end(), r.Moved1.begin(), r.Moved1.end());
                moved3.insert(moved3.end(), r.Moved3.begin(), r.Moved3.end());
            }
        }
        std::printf("| %s | %zu | %.0f %% | %.3f | %.2f | %.0f | %.1f |\n", c.Name, outcomes.size(),
                    100.0 * ok / double(outcomes.size()), Median(angles),
                    *std::max_element(angles.begin(), angles.end()), Median(evaluations), Median(ms));
        std::fflush(stdout);
    }
    std::printf("\nQuality figure: %zu good fits, %zu moved by 1 deg or 2 reduced px, %zu by 3 deg or 6 px\n",
                good.size(), moved1.size(), moved3.size());
    std::printf("AUC good vs moved 1 deg / 2 px: %.3f; vs moved 3 deg / 6 px: %.3f\n", Auc(good, moved1),
                Auc(good, moved3));
    std::sort(good.begin(), good.end());
    std::sort(moved1.begin(), moved1.end());
    std::printf("good fits: min %.3f, 5th percentile %.3f, median %.3f; moved: median %.3f, 95th "
                "percentile %.3f, max %.3f\n",
                good.front(), good[good.size() / 20], Median(good), Median(moved1), moved1[moved1.size() * 19 / 20],
                moved1.back());
    std::printf("| threshold | good fits flagged | moved fits caught (1 deg / 2 px) | caught (3 deg / 6 px) |\n"
                "|---|---|---|---|\n");
    const double thresholds[] = {0.4, 0.5, 0.6, 0.7, 0.8, 0.85, 0.88, 0.9, 0.91, 0.92, 0.93, 0.94, 0.95, 0.96, 0.97};
    for (const double t : thresholds) {
        std::printf("| %.3f | %.1f %% | %.1f %% | %.1f %% |\n", t, 100 * ShareBelow(good, t),
                    100 * ShareBelow(moved1, t), 100 * ShareBelow(moved3, t));
    }
    return 0;
}
