// Alignment on rendered demo photographs with known displacements: camera noise, sizes from
// 640 x 480 to 4000 x 3000, large rotations and shifts, zoom. The wide sweep behind the figures in
// bench/README.md is bench/align_sweep; these few pairs keep the test affordable.
#include "DemoScene.h"
#include "TSuperpose.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdio>

namespace {

TIntImage Render(const TDemoOptions& o, TDemoPhoto& p)
{
    TIntImage im;
    im.Setbitmap(RenderDemoPhoto(o, p));
    return im;
}

TTransPars TruthOf(const TDemoPhoto& p)
{
    const TDemoTransform t = DemoTransform(p);
    TTransPars pars;
    pars.Init(t.Angle, t.Shiftx, t.Shifty, t.Scale, t.Scale, 1);
    return pars;
}

// Photograph pixels per reduced pixel.
double ReducedPixel(const TDemoOptions& o)
{
    return double(o.Width - 1) / 255;
}

struct TStudy {
    int32_t Width, Height;
    double Noise, MaxAngle, MaxShift, MaxScale;
    int32_t Teeth, TimePoints; // every later photograph is fitted onto its tooth's first
    uint32_t Seed;
};

// A tooth's reference and its later photographs, rendered.
struct TSeries {
    TIntImage Reference;
    std::vector<TIntImage> Later;
    std::vector<TTransPars> Truth;
};

std::vector<TSeries> RenderStudy(const TStudy& s, TDemoOptions& o)
{
    o.Width = s.Width;
    o.Height = s.Height;
    o.Noise = s.Noise;
    o.MaxAngle = s.MaxAngle;
    o.MaxShift = s.MaxShift;
    o.MaxScale = s.MaxScale;
    o.Teeth = s.Teeth;
    o.TimePoints = s.TimePoints;
    o.Seed = s.Seed;
    std::vector<TDemoPhoto> plan = PlanDemoStudy(o);
    std::vector<TSeries> series(size_t(s.Teeth));
    for (TDemoPhoto& p : plan) {
        TSeries& t = series[size_t(p.ToothIndex)];
        if (p.TimePoint == 0) {
            t.Reference = Render(o, p);
        } else {
            t.Later.push_back(Render(o, p));
            t.Truth.push_back(TruthOf(p));
        }
    }
    return series;
}

} // namespace

// At least 95 % of later photographs within 0.5 degrees and one reduced pixel, from the identity.
TEST(AlignAccuracyTest, NoisyLargeAndTurnedPhotographs)
{
    const TStudy studies[] = {
        {640, 480, 0, 25, 15, 0, 4, 2, 11},
        {640, 480, 8, 25, 15, 0, 4, 2, 12},
        {640, 480, 14, 25, 15, 0, 4, 2, 13},
        {640, 480, 20, 25, 15, 0, 4, 2, 14},
        {1024, 768, 14, 25, 15, 0, 4, 2, 15},
        {1024, 768, 20, 25, 15, 0, 4, 2, 16},
        {1024, 768, 8, 30, 10, 0, 2, 2, 17}, // 21 to 30 degrees: the coarse grid's reach
        {2592, 1944, 14, 15, 10, 0, 1, 3, 18},
        {4000, 3000, 20, 25, 15, 0, 1, 3, 19},
    };
    int32_t pairs = 0, good = 0;
    for (const TStudy& s : studies) {
        TDemoOptions o;
        for (const TSeries& t : RenderStudy(s, o))
            for (size_t k = 0; k < t.Later.size(); ++k) {
                TTransPars pars = TTransPars::Identity();
                const TSuperpose fit(t.Reference, t.Later[k], pars, false, {});
                const TTransPars& truth = t.Truth[k];
                const double angle = std::abs(pars.fAngle - truth.fAngle);
                const double shift =
                    std::hypot(pars.Shiftx - truth.Shiftx, pars.Shifty - truth.Shifty) / ReducedPixel(o);
                const bool ok = angle <= 0.5 && shift <= 1;
                ++pairs;
                good += ok;
                if (!ok)
                    std::printf("%d x %d, sigma %g: true angle %.2f, error %.2f degrees and %.2f reduced pixels\n",
                                s.Width, s.Height, s.Noise, truth.fAngle, angle, shift);
            }
    }
    std::printf("%d of %d pairs aligned\n", good, pairs);
    EXPECT_GE(good, 0.95 * pairs);
}

// With "Deformation" the scales are recovered within 1 %.
TEST(AlignAccuracyTest, DeformationRecoversScales)
{
    TDemoOptions o;
    const auto series = RenderStudy({640, 480, 8, 15, 10, 8, 6, 2, 21}, o);
    for (const TSeries& t : series) {
        const TTransPars& truth = t.Truth[0];
        TTransPars pars = TTransPars::Identity();
        const TSuperpose fit(t.Reference, t.Later[0], pars, true, {});
        EXPECT_NEAR(pars.Scalex / truth.Scalex, 1, 0.01) << "true scale " << truth.Scalex;
        EXPECT_NEAR(pars.Scaley / truth.Scaley, 1, 0.01) << "true scale " << truth.Scaley;
        EXPECT_NEAR(pars.fAngle, truth.fAngle, 0.5);
    }
}

// The doubtful flag spares the true transforms and catches them turned by 1 degree or moved by 2
// reduced pixels, each in at least 90 % of cases.
TEST(AlignAccuracyTest, DoubtfulFlagSeparatesTrueFromMovedFits)
{
    const TStudy studies[] = {
        {640, 480, 0, 25, 15, 0, 4, 2, 31},
        {640, 480, 20, 25, 15, 0, 4, 2, 32},
        {1024, 768, 8, 25, 15, 0, 4, 2, 33},
        {1024, 768, 20, 25, 15, 0, 4, 2, 34},
    };
    int32_t trueFits = 0, spared = 0, movedFits = 0, caught = 0;
    for (const TStudy& s : studies) {
        TDemoOptions o;
        const std::vector<TSeries> series = RenderStudy(s, o);
        const double px = 2 * ReducedPixel(o);
        for (const TSeries& t : series)
            for (size_t k = 0; k < t.Later.size(); ++k) {
                const auto quality = [&](const TTransPars& pars) {
                    TIntImage image;
                    t.Later[k].Transform(pars, image);
                    return AlignmentCorrelation(t.Reference, image);
                };
                const TTransPars truth = t.Truth[k];
                ++trueFits;
                spared += quality(truth) >= DoubtfulAlignQuality;
                TTransPars moved[4] = {truth, truth, truth, truth};
                moved[0].SetAngle(truth.fAngle + 1);
                moved[1].SetAngle(truth.fAngle - 1);
                moved[2].Shiftx += px;
                moved[3].Shifty -= px;
                for (const TTransPars& m : moved) {
                    ++movedFits;
                    caught += quality(m) < DoubtfulAlignQuality;
                }
            }
    }
    std::printf("true fits spared: %d of %d; moved fits caught: %d of %d\n", spared, trueFits, caught, movedFits);
    EXPECT_GE(spared, 0.9 * trueFits);
    EXPECT_GE(caught, 0.9 * movedFits);
}
