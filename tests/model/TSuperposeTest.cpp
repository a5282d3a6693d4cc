#include "TSuperpose.h"
#include "ToothFixture.h"
#include "ToothScene.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

TTransPars Pars(double angle, double sx, double sy, double scx = 1, double scy = 1)
{
    TTransPars p;
    p.Init(angle, sx, sy, scx, scy, 1);
    return p;
}

// Photograph pixels per reduced pixel for a photograph of the reference's proportions.
double ReducedPixel(const TIntImage& reference)
{
    double s = 0;
    ReduceToGrey(reference, ReducedRect(reference), s);
    return s;
}

struct TFitError {
    double Angle, Shift; // degrees; photograph pixels (distance)
};

TFitError ErrorOf(const TTransPars& fit, const TTransPars& truth)
{
    return {std::abs(fit.fAngle - truth.fAngle), std::hypot(fit.Shiftx - truth.Shiftx, fit.Shifty - truth.Shifty)};
}

} // namespace

TEST(TSuperposeTest, ReducedPlaneFollowsTheReference)
{
    struct TCase {
        int32_t W, H;
        TRect Reduced, Fit;
        double S;
    };
    const TCase cases[] = {
        {600, 400, {0, 0, 256, 171}, {32, 21, 224, 150}, 399.0 / 170},
        {1024, 768, {0, 0, 256, 192}, {32, 24, 224, 168}, 1023.0 / 255},
        // 256 / 1000 * 500 = 128 exactly; the photograph's width gives the smaller factor.
        {1000, 500, {0, 0, 256, 128}, {32, 16, 224, 112}, 999.0 / 255},
    };
    for (const TCase& c : cases) {
        TIntImage im;
        im.SetSize(c.W, c.H);
        const TRect r = ReducedRect(im), f = CentralRect(r);
        EXPECT_EQ((std::array{r.Left, r.Top, r.Right, r.Bottom}),
                  (std::array{c.Reduced.Left, c.Reduced.Top, c.Reduced.Right, c.Reduced.Bottom}));
        EXPECT_EQ((std::array{f.Left, f.Top, f.Right, f.Bottom}),
                  (std::array{c.Fit.Left, c.Fit.Top, c.Fit.Right, c.Fit.Bottom}));
        EXPECT_DOUBLE_EQ(ReducedPixel(im), c.S) << c.W << " x " << c.H;
    }
}

// Four photograph pixels per reduced pixel: each reduced pixel is the mean of the box of four
// pixels centred where nearest-neighbour sampling took its pixel (partly covered pixels weighted),
// so stripes finer than a reduced pixel average out (one pixel would see only the dark ones) and a
// thin line lands where it lies.
TEST(TSuperposeTest, ReductionAveragesThePixelsCovered)
{
    TIntImage stripes, lines;
    stripes.SetSize(1021, 765);
    lines.SetSize(1021, 765);
    for (int32_t y = 0; y < 765; ++y)
        for (int32_t x = 0; x < 1021; ++x) {
            stripes.Pixels(x, y) = x % 2 ? 0x30C810 : 0; // grey 200 (the largest byte) and 0
            lines.Pixels(x, y) = x == 400 || x == 802 ? 0xFF : 0;
        }
    const TRect R{0, 0, 256, 192};
    double s = 0;
    const TIntImage a = ReduceToGrey(stripes, R, s), b = ReduceToGrey(lines, R, s);
    EXPECT_EQ(s, 4.0);
    for (int32_t r : {0, 100, 191}) {
        for (int32_t c = 1; c < 255; ++c)
            ASSERT_EQ(a.Pixels(c, r), 100) << c << ", " << r;
        // Column 400 is the centre of reduced pixel 100's box [398, 402]; column 802 lies on the
        // border of the boxes of 200 and 201, half in each.
        EXPECT_EQ((std::array{b.Pixels(99, r), b.Pixels(100, r), b.Pixels(101, r)}), (std::array{0, 64, 0}));
        EXPECT_EQ((std::array{b.Pixels(199, r), b.Pixels(200, r), b.Pixels(201, r), b.Pixels(202, r)}),
                  (std::array{0, 32, 32, 0}));
    }
    // At the edge the box is clipped to the photograph: columns 0, 1 and half of 2.
    EXPECT_EQ(a.Pixels(0, 50), 80);
}

TEST(TSuperposeTest, FitWorksOnReducedGreyCopies)
{
    const TToothScene scene(600, 400, 7);
    const TIntImage reference = scene.Render();
    const TIntImage photo = scene.Render(Pars(4, 20, -10), 1.0);
    TTransPars pars = TTransPars::Identity();
    const TSuperpose fit(reference, photo, pars, false, {});
    EXPECT_EQ(fit.FitRect.Left, 32);
    EXPECT_EQ(fit.FitRect.Top, 21);
    EXPECT_EQ(fit.FitRect.Right, 224);
    EXPECT_EQ(fit.FitRect.Bottom, 150);
    EXPECT_EQ(fit.Etalon.Width(), 256);
    EXPECT_EQ(fit.Etalon.Height(), 171);
    EXPECT_EQ(fit.buf.Width(), 192);
    EXPECT_EQ(fit.buf.Height(), 129);
    EXPECT_LE(*std::max_element(fit.Suspect.img.begin(), fit.Suspect.img.end()), 255);
    EXPECT_EQ(fit.ppars, &pars);
    EXPECT_DOUBLE_EQ(fit.A[2], -85.5);
    EXPECT_DOUBLE_EQ(fit.B[2], 85.5);
    EXPECT_EQ(fit.W, (TBoolVector{true, true, true, false, false, true}));
}

// Photographs displaced by up to 15 degrees and 10% of their width, with a brightness change, are
// aligned back onto the reference.
TEST(TSuperposeTest, AlignsDisplacedPhotographs)
{
    constexpr int32_t Width = 640, Height = 480, Cases = 20;
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> angle(-15, 15), shift(-0.1 * Width, 0.1 * Width),
        brightness(0.85, 1.15);
    std::vector<double> angleErrors, shiftErrors;
    int good = 0;
    double s = 0;
    for (int k = 0; k < Cases; ++k) {
        const TToothScene scene(Width, Height, uint32_t(k + 1));
        const TIntImage reference = scene.Render();
        s = ReducedPixel(reference);
        const TTransPars truth = Pars(angle(random), shift(random), shift(random));
        const double b = brightness(random);
        const TIntImage photo = scene.Render(truth, b);
        TTransPars pars = TTransPars::Identity();
        const TSuperpose fit(reference, photo, pars, false, {});
        const TFitError e = ErrorOf(pars, truth);
        angleErrors.push_back(e.Angle);
        shiftErrors.push_back(e.Shift);
        const bool ok = e.Angle <= 0.5 && e.Shift <= s;
        good += ok;
        if (ok)
            EXPECT_NEAR(pars.Coeff, 1 / b, 0.05 / b) << "case " << k;
        else
            std::printf("case %d not aligned: angle %.2f fit %.2f, shift (%.1f, %.1f) fit (%.1f, %.1f)\n", k,
                        truth.fAngle, pars.fAngle, truth.Shiftx, truth.Shifty, pars.Shiftx, pars.Shifty);
    }
    std::sort(angleErrors.begin(), angleErrors.end());
    std::sort(shiftErrors.begin(), shiftErrors.end());
    std::printf("angle error: median %.3f max %.3f degrees; shift error: median %.3f max %.3f px "
                "(one reduced pixel = %.3f px); %d of %d aligned\n",
                angleErrors[Cases / 2], angleErrors.back(), shiftErrors[Cases / 2], shiftErrors.back(), s, good,
                Cases);
    EXPECT_GE(good, Cases - 1);
}


// The search starts from the grid's best start: the start transform itself when nothing on the grid
// beats it, a grid start when the photograph is displaced. The record holds the first vertex while
// the first cost is evaluated, with shifts in reduced pixels.
TEST(TSuperposeTest, SearchStartsFromTheBestStart)
{
    const TToothScene scene(1024, 768, 3);
    const TIntImage reference = scene.Render();
    const TTransPars truth = Pars(12.3, 60, -45.2);
    const TIntImage photo = scene.Render(truth, 1.0);
    const double s = 1023.0 / 255;
    struct TCase {
        TTransPars Start;
        bool KeepsStart;
    };
    const TCase cases[] = {{truth, true}, {TTransPars::Identity(), false}};
    for (const TCase& c : cases) {
        TTransPars pars = c.Start, first;
        int evaluations = 0;
        const TSuperpose fit(reference, photo, pars, false, [&](const TIntImage&, const TIntImage&) {
            if (evaluations++ == 0)
                first = pars;
        });
        if (c.KeepsStart) {
            EXPECT_EQ(first.fAngle, c.Start.fAngle);
            EXPECT_DOUBLE_EQ(first.Shiftx, c.Start.Shiftx / s);
            EXPECT_DOUBLE_EQ(first.Shifty, c.Start.Shifty / s);
        } else {
            // Near the truth (15 and 11 reduced pixels away from the start): the grid's cost is a
            // sampled one and its shifts whole pixels, so only the search settles the last degree.
            EXPECT_NEAR(first.fAngle, truth.fAngle, 1.5);
            EXPECT_NEAR(first.Shiftx, truth.Shiftx / s, 2);
            EXPECT_NEAR(first.Shifty, truth.Shifty / s, 2);
        }
        EXPECT_LE(evaluations, 1000 + 10); // the limit is checked once per iteration
        const TFitError e = ErrorOf(pars, truth);
        EXPECT_LE(e.Angle, 0.5);
        EXPECT_LE(e.Shift, s);
    }
}

TEST(TSuperposeTest, ScalesMoveOnlyWithDeform)
{
    const TToothScene scene(640, 480, 11);
    const TIntImage reference = scene.Render();
    const TIntImage photo = scene.Render(Pars(-5, 12, 20, 1.08, 0.95), 1.0);
    TTransPars fixed = Pars(0, 0, 0, 1.1, 0.93);
    const TSuperpose rigid(reference, photo, fixed, false, {});
    EXPECT_EQ(fixed.Scalex, 1.1);
    EXPECT_EQ(fixed.Scaley, 0.93);

    // Free scales are recovered within 1 %.
    TTransPars free = TTransPars::Identity();
    const TSuperpose deformed(reference, photo, free, true, {});
    EXPECT_NEAR(free.Scalex, 1.08, 0.0108);
    EXPECT_NEAR(free.Scaley, 0.95, 0.0095);
}

TEST(TSuperposeTest, BlackCentreIsAnErrorAndLeavesTheRecord)
{
    const TToothScene scene(320, 240, 2);
    const TIntImage reference = scene.Render();
    TIntImage photo = reference;
    // The central window the start gain divides by, and a margin around it.
    for (int32_t y = 90; y < 150; ++y)
        for (int32_t x = 130; x < 190; ++x)
            photo.Pixels(x, y) = 0;
    TTransPars pars = Pars(3, 4, 5);
    const TTransPars before = pars;
    try {
        TSuperpose fit(reference, photo, pars, true, {});
        FAIL() << "no error";
    } catch (const TOrvixError& e) {
        EXPECT_STREQ(e.what(), "the photograph is black in its centre; it cannot be aligned");
    }
    EXPECT_EQ(std::memcmp(&pars, &before, sizeof pars), 0);
}

// Photographs of one tooth as bitmap files: the reference and a displaced later one.
class TToothSuperposeTest : public ToothFixture {
protected:
    static constexpr int32_t Width = 320, Height = 240;
    const TToothScene Scene{Width, Height, 9};
    const TTransPars Truth = Pars(-9, 14, 11);

    std::unique_ptr<TTooth> Photograph(const QString& name, const TIntImage& im)
    {
        TIntVector colours(im.img.size());
        for (size_t i = 0; i < colours.size(); ++i)
            colours[i] = im.img[i] & 0xFFFFFF;
        return std::make_unique<TTooth>(WriteBitmap(name, Width, Height, colours), 11);
    }
    std::unique_ptr<TTooth> Reference() { return Photograph("A11000.bmp", Scene.Render()); }
    std::unique_ptr<TTooth> Later() { return Photograph("A11001.bmp", Scene.Render(Truth, 0.95)); }

    // Counts the cost evaluations of the fits it is passed to.
    int Evaluations = 0;
    TOnShow Counter()
    {
        return [this](const TIntImage&, const TIntImage&) { ++Evaluations; };
    }
};

TEST_F(TToothSuperposeTest, FitRendersTheImageAndKeepsTheResult)
{
    const auto reference = Reference();
    const auto later = Later();
    const double before = later->AlignmentQuality(*reference);
    later->Superpose(false, Counter(), reference.get());
    EXPECT_GT(Evaluations, 0);
    EXPECT_TRUE(later->NelmDone);
    EXPECT_EQ(std::memcmp(&later->NELMPars, &later->TransPars, sizeof(TTransPars)), 0);
    const TFitError e = ErrorOf(later->TransPars, Truth);
    EXPECT_LE(e.Angle, 0.5);
    EXPECT_LE(e.Shift, ReducedPixel(reference->Image));
    TIntImage rendered;
    later->Raw.Transform(later->TransPars, rendered);
    EXPECT_EQ(later->Image.img, rendered.img);
    EXPECT_EQ(later->Contour.img, later->Image.img); // redrawn; nothing segmented to outline
    const double after = later->AlignmentQuality(*reference);
    std::printf("alignment quality %.3f before the fit, %.3f after\n", before, after);
    EXPECT_LT(before, 0.85);
    EXPECT_GT(after, 0.9);
}

TEST_F(TToothSuperposeTest, QualityIsOneForAPerfectMatch)
{
    const auto reference = Reference();
    const auto same = Photograph("A11002.bmp", Scene.Render());
    EXPECT_NEAR(same->AlignmentQuality(*reference), 1.0, 1e-12);
    EXPECT_NEAR(reference->AlignmentQuality(*reference), 1.0, 1e-12);
    // A uniform photograph matches nothing (and divides by nothing).
    TIntImage grey;
    grey.SetSize(Width, Height);
    std::fill(grey.img.begin(), grey.img.end(), 0x404040);
    EXPECT_EQ(AlignmentCorrelation(reference->Image, grey), 0.0);
}

TEST_F(TToothSuperposeTest, NoReferenceOrFirstPhotographMakesNoFit)
{
    const auto reference = Reference();
    const auto later = Later();
    later->Superpose(true, Counter(), nullptr);
    EXPECT_FALSE(later->NelmDone);
    EXPECT_TRUE(later->TransPars.IsIdentity());

    // The first photograph keeps a transform set by hand, and its Image, also when marked before.
    reference->TransPars = Pars(2, 3, 4);
    const TIntImage image = reference->Image;
    for (int pass = 0; pass < 2; ++pass) {
        reference->Superpose(true, Counter(), reference.get());
        EXPECT_TRUE(reference->NelmDone);
        EXPECT_EQ(reference->TransPars.fAngle, 2);
        EXPECT_TRUE(reference->NELMPars.IsIdentity());
        EXPECT_EQ(reference->Image.img, image.img);
    }
    EXPECT_EQ(Evaluations, 0);
}

TEST_F(TToothSuperposeTest, AlignedPhotographReturnsToItsFit)
{
    const auto reference = Reference();
    const auto later = Later();
    later->NelmDone = true;
    later->NELMPars = Pars(-8.5, 13, 12);
    later->NELMPars.Coeff = 1.05;
    later->TransPars = Pars(1, 2, 3); // moved by hand
    later->Raw.Transform(later->TransPars, later->Image);
    later->Superpose(false, Counter(), reference.get());
    EXPECT_EQ(Evaluations, 0);
    EXPECT_EQ(std::memcmp(&later->TransPars, &later->NELMPars, sizeof(TTransPars)), 0);
    TIntImage rendered;
    later->Raw.Transform(later->NELMPars, rendered);
    EXPECT_EQ(later->Image.img, rendered.img) << "Image follows the restored transform";
    EXPECT_EQ(later->Contour.img, later->Image.img);

    // Nothing to restore: Image is not written (other workers may be reading a photograph's Image).
    later->Image.img[0] = 0x123456;
    later->Superpose(false, Counter(), reference.get());
    EXPECT_EQ(later->Image.img[0], 0x123456);
    EXPECT_EQ(Evaluations, 0);
}

TEST_F(TToothSuperposeTest, BlackCentreLeavesThePhotographUnchanged)
{
    const auto reference = Reference();
    TIntImage black = Scene.Render(Truth, 1.0);
    for (int32_t y = 80; y < 160; ++y)
        for (int32_t x = 110; x < 210; ++x)
            black.Pixels(x, y) = 0;
    const auto later = Photograph("A11003.bmp", black);
    later->TransPars = Pars(1, 2, 3);
    const TTransPars before = later->TransPars;
    const TIntImage image = later->Image;
    EXPECT_THROW(later->Superpose(false, Counter(), reference.get()), TOrvixError);
    EXPECT_FALSE(later->NelmDone);
    EXPECT_EQ(std::memcmp(&later->TransPars, &before, sizeof(TTransPars)), 0);
    EXPECT_TRUE(later->NELMPars.IsIdentity());
    EXPECT_EQ(later->Image.img, image.img);
}
