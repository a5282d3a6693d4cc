#include "TIntImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// A w x h image whose pixel (x, y) holds 1 + x + 100 * y, so every pixel is non-zero and traceable.
TIntImage Numbered(int32_t w, int32_t h)
{
    TIntImage im;
    im.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            im.Pixels(x, y) = 1 + x + 100 * y;
    return im;
}

int32_t Label(int32_t x, int32_t y)
{
    return 1 + x + 100 * y;
}

} // namespace

TEST(TIntImageTest, SetSizeCentresOriginAndKeepsLeadingValues)
{
    TIntImage im;
    im.SetSize(2, 2);
    im.img = {7, 8, 9, 10};
    im.SetSize(5, 3);
    EXPECT_EQ(im.OriginX(), 2.5);
    EXPECT_EQ(im.OriginY(), 1.5);
    ASSERT_EQ(im.img.size(), 15u);
    EXPECT_EQ((TIntVector(im.img.begin(), im.img.begin() + 5)), (TIntVector{7, 8, 9, 10, 0}));
}

TEST(TIntImageTest, IdentityCopiesAndLeavesTheTailOfALargerArrayAlone)
{
    const TIntImage src = Numbered(4, 3);
    TIntImage copy;
    src.Transform(TTransPars::Identity(), copy);
    EXPECT_EQ(copy.img, src.img);
    EXPECT_EQ(copy.OriginX(), 2.0);

    TIntVector big(20, -1);
    TTransPars id = TTransPars::Identity();
    id.cosa = 0.5; // not looked at by the identity test
    id.Coeff = 3;
    src.Transform(id, big);
    EXPECT_EQ(TIntVector(big.begin(), big.begin() + 12), src.img);
    EXPECT_EQ(TIntVector(big.begin() + 12, big.end()), TIntVector(8, -1));

    TIntVector small(11, -1);
    src.Transform(id, small);
    EXPECT_EQ(small, TIntVector(11, -1)) << "too small a destination is left untouched";
}

TEST(TIntImageTest, ShiftZeroFillsTheWholeDestinationFirst)
{
    const TIntImage src = Numbered(4, 3);
    TTransPars p = TTransPars::Identity();
    p.Shiftx = 1;
    TIntVector dest(14, -1);
    src.Transform(p, dest);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(dest[x + 4 * y], Label(x + 1, y));
        EXPECT_EQ(dest[3 + 4 * y], 0) << "the last column has no source";
    }
    EXPECT_EQ(dest[12], 0);
    EXPECT_EQ(dest[13], 0);
}

namespace {

// The general path written out as the definition reads, one pixel at a time.
TIntVector DefinedTransform(const TIntImage& s, const TTransPars& p, const TRect& r)
{
    TIntVector d(size_t(r.Width() * r.Height()), 0);
    for (int32_t y = r.Top; y < r.Bottom; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x) {
            const double u = (x - s.OriginX()) * p.Scalex + p.Shiftx;
            const double v = (s.OriginY() - y) * p.Scaley + p.Shifty;
            const double sx = std::nearbyint(u * p.cosa + v * p.sina + s.OriginX());
            const double sy = std::nearbyint(s.OriginY() - (v * p.cosa - u * p.sina));
            if (sx >= 0 && sx <= s.Width() - 1 && sy >= 0 && sy <= s.Height() - 1)
                d[size_t((x - r.Left) + (y - r.Top) * r.Width())] = s.Pixels(int32_t(sx), int32_t(sy));
        }
    return d;
}

} // namespace

TEST(TIntImageTest, GeneralPathFollowsTheDefinition)
{
    // Random transforms, plus ones that put many positions on exact ties; odd and even widths.
    std::mt19937 random(17);
    std::uniform_real_distribution<double> angle(-200, 200), shift(-12, 12), scale(0.5, 1.6);
    std::vector<TTransPars> cases;
    for (int k = 0; k < 40; ++k) {
        TTransPars p;
        p.Init(angle(random), shift(random), shift(random), scale(random), scale(random), 1);
        cases.push_back(p);
    }
    for (const double a : {0.0, 90.0, 180.0, -90.0}) {
        TTransPars p;
        p.Init(a, 0.5, -1.5, 1, 1, 1);
        cases.push_back(p);
    }
    const TIntImage src = Numbered(37, 24);
    const TRect rects[] = {{0, 0, 37, 24}, {-5, 3, 40, 20}, {4, -2, 30, 26}};
    for (const TTransPars& p : cases)
        for (const TRect& r : rects) {
            TIntVector d(size_t(r.Width() * r.Height()));
            src.Transform(p, d, r);
            ASSERT_EQ(d, DefinedTransform(src, p, r)) << "angle " << p.fAngle << " shift " << p.Shiftx << ", "
                                                      << p.Shifty << " rect width " << r.Width();
        }
}

TEST(TIntImageTest, HalfPixelPositionsRoundToEven)
{
    // Origin (2.5, 1.5): a half-pixel shift puts every source position on a tie.
    const TIntImage src = Numbered(5, 3);
    TTransPars p = TTransPars::Identity();
    p.Shiftx = 0.5;
    p.Shifty = -0.5; // v measures upwards: source row y + 0.5
    TIntImage dest;
    src.Transform(p, dest);
    const int32_t nearestEven[] = {0, 2, 2, 4, 4}; // of 0.5, 1.5, 2.5, 3.5, 4.5
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const int32_t sy = nearestEven[y];
            EXPECT_EQ(dest.Pixels(x, y), sy < 3 ? Label(nearestEven[x], sy) : 0) << x << ", " << y;
        }
}

TEST(TIntImageTest, NinetyDegreesMapsRightOfOriginToBelowOrigin)
{
    const TIntImage src = Numbered(6, 4); // origin (3, 2)
    TTransPars p = TTransPars::Identity();
    p.SetAngle(90);
    TIntImage dest;
    src.Transform(p, dest);
    EXPECT_EQ(dest.Pixels(4, 2), src.Pixels(3, 3));
    EXPECT_EQ(dest.Pixels(3, 2), src.Pixels(3, 2));
}

TEST(TIntImageTest, FullTurnTakesTheGeneralPath)
{
    // 360 degrees is not the identity: cos/sin round-off is resampled, and a rectangle reaching
    // outside the image is legal and reads 0 there.
    const TIntImage src = Numbered(5, 5);
    TTransPars p = TTransPars::Identity();
    p.SetAngle(360);
    TIntImage dest;
    src.Transform(p, dest, TRect{3, 3, 7, 7});
    EXPECT_EQ(dest.Pixels(0, 0), src.Pixels(3, 3));
    EXPECT_EQ(dest.Pixels(1, 1), src.Pixels(4, 4));
    EXPECT_EQ(dest.Pixels(2, 2), 0);
    EXPECT_EQ(dest.Pixels(3, 0), 0);
}

TEST(TIntImageTest, EverythingOutsideGivesZeros)
{
    const TIntImage src = Numbered(8, 6);
    TTransPars p = TTransPars::Identity();
    p.Shiftx = 1e12; // far beyond any integer
    p.Shifty = -50;
    TIntImage dest;
    src.Transform(p, dest);
    EXPECT_EQ(dest.img, TIntVector(48, 0));
}

TEST(TIntImageTest, FitToRect)
{
    double scale = 0;
    const TIntImage src = Numbered(7, 5);
    EXPECT_EQ(src.FitToRect(TRect{2, 2, 9, 7}, scale).img, src.img);
    EXPECT_EQ(scale, 1.0);

    const TIntImage wide = Numbered(1001, 501);
    const TIntImage fit = wide.FitToRect(TRect{0, 0, 101, 101}, scale);
    EXPECT_EQ(scale, 5.0);
    EXPECT_EQ(fit.Pixels(100, 100), wide.Pixels(500, 500)) << "only the left half is shown";
    EXPECT_EQ(fit.Pixels(3, 1), wide.Pixels(15, 5));

    // Half-way samples round to even: factor 1.5 takes column 2 for c = 1 (1.5) and 4 for c = 3 (4.5).
    const TIntImage four = Numbered(4, 4);
    const TIntImage three = Numbered(7, 7).FitToRect(TRect{0, 0, 5, 5}, scale);
    EXPECT_EQ(scale, 1.5);
    EXPECT_EQ(three.Pixels(1, 0), Label(2, 0));
    EXPECT_EQ(three.Pixels(3, 3), Label(4, 4));

    // A one-pixel axis has factor 0 rather than a division by zero.
    const TIntImage column = four.FitToRect(TRect{0, 0, 1, 3}, scale);
    EXPECT_EQ(scale, 0.0);
    EXPECT_EQ(column.img, TIntVector(3, Label(0, 0)));
    EXPECT_EQ(four.FitToRect(TRect{0, 0, 1, 1}, scale).img, TIntVector{Label(0, 0)});
}

TEST(TIntImageTest, CopyRectAndIntensity)
{
    const TIntImage src = Numbered(5, 4);
    const TIntImage part = src.CopyRect(TRect{1, 2, 4, 4});
    EXPECT_EQ(part.Width(), 3);
    EXPECT_EQ(part.OriginX(), 1.5);
    EXPECT_EQ(part.img, (TIntVector{Label(1, 2), Label(2, 2), Label(3, 2), Label(1, 3), Label(2, 3), Label(3, 3)}));

    TIntImage c;
    c.SetSize(3, 1);
    c.img = {int32_t(0xFFFF8040), 0x102030, int32_t(0xAB000000)};
    c.ConvertToIntensity();
    EXPECT_EQ(c.img, (TIntVector{255, 48, 0})) << "the upper byte is ignored";
}

TEST(RoundingTest, FastRoundingMatchesNearbyint)
{
    for (double v : {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.49999999999999994, 1e15 + 0.5, -3.4999, 7.0, 1e300, -1e300})
        EXPECT_EQ(RoundEvenFast(v), std::nearbyint(v)) << v;
    double v = -1000.25;
    for (int i = 0; i < 10000; ++i, v += 0.1372)
        ASSERT_EQ(RoundEvenFast(v), std::nearbyint(v)) << v;
}

TEST(ProportionalRectTest, CentresTheLargestRectangleOfTheImagesProportions)
{
    struct TCase {
        TRect R;
        int32_t w, h;
        TRect Expected;
    };
    const TCase cases[] = {
        {{0, 0, 128, 96}, 480, 640, {28, 0, 100, 96}},     // portrait photograph in a landscape cell
        {{10, 20, 138, 116}, 640, 480, {10, 20, 138, 116}}, // same proportions: the whole cell
        {{0, 0, 100, 100}, 300, 100, {0, 33, 100, 67}},     // 100 x 33.33 rounds to 33, centred
        {{0, 0, 5, 4}, 0, 480, {0, 0, 5, 4}},               // nothing to scale
        {{0, 0, 0, 4}, 640, 480, {0, 0, 0, 4}},
    };
    for (const TCase& c : cases) {
        const TRect r = ProportionalRect(c.R, c.w, c.h);
        EXPECT_EQ(std::tie(r.Left, r.Top, r.Right, r.Bottom),
                  std::tie(c.Expected.Left, c.Expected.Top, c.Expected.Right, c.Expected.Bottom))
            << c.w << "x" << c.h << " in " << c.R.Width() << "x" << c.R.Height();
    }
}
