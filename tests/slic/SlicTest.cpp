#include "SLIC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TImage {
    int32_t Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;
};

struct TResult {
    int32_t Count = -1;
    std::vector<int32_t> Labels;
};

// A dark background with a few flat-coloured discs and bars, plus noise; seeded, so every run
// builds the same image. Raw generator bits only: distributions differ between libraries.
TImage MakeImage(int32_t width, int32_t height, uint32_t seed)
{
    TImage im{width, height, std::vector<uint32_t>(size_t(width) * height)};
    std::mt19937 random(seed);
    struct TDisc { double X, Y, R; uint32_t Colour; };
    std::vector<TDisc> discs;
    for (int i = 0; i < 6; ++i)
        discs.push_back({double(random() % width), double(random() % height),
                         0.1 * std::min(width, height) + random() % (1 + width / 4),
                         uint32_t(random() & 0xFFFFFF)});
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t colour = (y * 4 / height) % 2 ? 0x302010 : 0x101010;
            for (const TDisc& d : discs)
                if ((x - d.X) * (x - d.X) + (y - d.Y) * (y - d.Y) < d.R * d.R)
                    colour = d.Colour;
            const uint32_t noise = random();
            auto channel = [&](int shift) {
                const int v = int((colour >> shift) & 0xFF) + int((noise >> shift) & 7) - 4;
                return uint32_t(std::clamp(v, 0, 255)) << shift;
            };
            im.Pixels[size_t(y) * width + x] = channel(16) | channel(8) | channel(0);
        }
    }
    return im;
}

TResult Segment(const TImage& im, int32_t k, double compactness = 20)
{
    TResult r;
    r.Labels.assign(im.Pixels.size(), -7);
    const SLICHandle h = NewSLIC();
    DoSuperpixelSegmentation_ForGivenK(h, im.Pixels.data(), im.Width, im.Height, r.Labels.data(),
                                       &r.Count, k, compactness);
    DeleteSLICHandle(h);
    return r;
}

// Labels 0 .. count-1, every one used, each one 4-connected region.
::testing::AssertionResult IsPartition(const TResult& r, int32_t width, int32_t height)
{
    if (r.Count <= 0)
        return ::testing::AssertionFailure() << "count " << r.Count;
    std::vector<char> seen(r.Labels.size(), 0), labelSeen(size_t(r.Count), 0);
    std::vector<size_t> stack;
    for (size_t start = 0; start < r.Labels.size(); ++start) {
        if (seen[start])
            continue;
        const int32_t label = r.Labels[start];
        if (label < 0 || label >= r.Count)
            return ::testing::AssertionFailure() << "label " << label << " at " << start;
        if (labelSeen[size_t(label)])
            return ::testing::AssertionFailure() << "label " << label << " is not connected";
        labelSeen[size_t(label)] = 1;
        seen[start] = 1;
        stack.assign(1, start);
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            const int32_t x = int32_t(i % size_t(width)), y = int32_t(i / size_t(width));
            const int32_t nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
            for (int n = 0; n < 4; ++n) {
                if (nx[n] < 0 || ny[n] < 0 || nx[n] >= width || ny[n] >= height)
                    continue;
                const size_t j = size_t(ny[n]) * width + nx[n];
                if (!seen[j] && r.Labels[j] == label) {
                    seen[j] = 1;
                    stack.push_back(j);
                }
            }
        }
    }
    const auto unused = std::find(labelSeen.begin(), labelSeen.end(), 0);
    if (unused != labelSeen.end())
        return ::testing::AssertionFailure()
               << "label " << (unused - labelSeen.begin()) << " unused";
    return ::testing::AssertionSuccess();
}

struct TOrdinaryCase {
    int32_t Width, Height, K;
    double Compactness;
};

void PrintTo(const TOrdinaryCase& c, std::ostream* os)
{
    *os << c.Width << "x" << c.Height << " K=" << c.K << " m=" << c.Compactness;
}

class SlicOrdinaryTest : public ::testing::TestWithParam<TOrdinaryCase> {};

TEST_P(SlicOrdinaryTest, PartitionsIntoAboutKConnectedSuperpixels)
{
    const TOrdinaryCase c = GetParam();
    const TImage im = MakeImage(c.Width, c.Height, 12345u + uint32_t(c.Width));
    const TImage before = im;
    const TResult r = Segment(im, c.K, c.Compactness);
    EXPECT_TRUE(IsPartition(r, c.Width, c.Height));
    EXPECT_NEAR(r.Count, c.K, 0.15 * c.K);
    EXPECT_EQ(im.Pixels, before.Pixels);
}

std::string CaseName(int32_t width, int32_t height, int32_t k, double compactness)
{
    char m[32];
    std::snprintf(m, sizeof m, "%g", compactness);
    std::string name = std::to_string(width) + "x" + std::to_string(height) + "_K" +
                       std::to_string(k) + "_m";
    for (const char* c = m; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Images, SlicOrdinaryTest,
                         ::testing::Values(TOrdinaryCase{64, 48, 12, 20},
                                           TOrdinaryCase{200, 150, 100, 20},
                                           TOrdinaryCase{321, 173, 60, 10},
                                           TOrdinaryCase{120, 500, 80, 40},
                                           TOrdinaryCase{640, 480, 400, 20}),
                         [](const ::testing::TestParamInfo<TOrdinaryCase>& info) {
                             const TOrdinaryCase& c = info.param;
                             return CaseName(c.Width, c.Height, c.K, c.Compactness);
                         });

// Flat colours without noise: a working segmentation keeps every superpixel within one colour and
// about one grid cell (S = 20 here) in size. A fault in the distance or in the update step breaks
// one or the other while the labels still form a valid partition.
TEST(SlicTest, SuperpixelsFollowColourEdgesAndStayCompact)
{
    const int32_t width = 240, height = 180, k = 108;
    TImage im{width, height, std::vector<uint32_t>(size_t(width) * height, 0x808080)};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (x >= 37 && x < 151 && y >= 23 && y < 97)
                im.Pixels[size_t(y) * width + x] = 0xC03020;
            if ((x - 170) * (x - 170) + (y - 120) * (y - 120) < 40 * 40)
                im.Pixels[size_t(y) * width + x] = 0x30B040;
        }
    }
    const TResult r = Segment(im, k);
    ASSERT_TRUE(IsPartition(r, width, height));
    std::vector<std::map<uint32_t, int>> colours(size_t(r.Count));
    std::vector<int32_t> x0(size_t(r.Count), width), x1(size_t(r.Count), -1);
    std::vector<int32_t> y0(size_t(r.Count), height), y1(size_t(r.Count), -1);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = size_t(y) * width + x;
            const size_t label = size_t(r.Labels[i]);
            ++colours[label][im.Pixels[i]];
            x0[label] = std::min(x0[label], x);
            x1[label] = std::max(x1[label], x);
            y0[label] = std::min(y0[label], y);
            y1[label] = std::max(y1[label], y);
        }
    }
    int64_t minority = 0;
    for (size_t label = 0; label < colours.size(); ++label) {
        int largest = 0, total = 0;
        for (const auto& [colour, n] : colours[label]) {
            largest = std::max(largest, n);
            total += n;
        }
        minority += total - largest;
        EXPECT_LE(x1[label] - x0[label], 60) << "label " << label;
        EXPECT_LE(y1[label] - y0[label], 60) << "label " << label;
    }
    EXPECT_LE(minority, width * height / 200);
}

TEST(SlicTest, UpperByteOfPixelsIsIgnored)
{
    TImage im = MakeImage(96, 64, 7);
    const TResult plain = Segment(im, 24);
    std::mt19937 random(99);
    for (uint32_t& p : im.Pixels)
        p |= random() & 0xFF000000u;
    EXPECT_EQ(Segment(im, 24).Labels, plain.Labels);
}

struct TBadCase {
    const char* Name;
    bool NullHandle, ForeignHandle, NullPixels, NullLabels;
    int32_t Width, Height, K;
    double Compactness;
};

void PrintTo(const TBadCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SlicBadInputTest : public ::testing::TestWithParam<TBadCase> {};

TEST_P(SlicBadInputTest, GivesCountZeroAndLeavesLabelsAlone)
{
    const TBadCase c = GetParam();
    const TImage im = MakeImage(16, 12, 3);
    std::vector<int32_t> labels(im.Pixels.size(), -7);
    uint64_t foreign[8] = {};   // readable memory that is no segmentation object
    const SLICHandle h = c.NullHandle ? 0
                         : c.ForeignHandle ? reinterpret_cast<SLICHandle>(foreign)
                                           : NewSLIC();
    int32_t count = 123;
    DoSuperpixelSegmentation_ForGivenK(h, c.NullPixels ? nullptr : im.Pixels.data(), c.Width,
                                       c.Height, c.NullLabels ? nullptr : labels.data(), &count,
                                       c.K, c.Compactness);
    DeleteSLICHandle(h);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(std::all_of(labels.begin(), labels.end(), [](int32_t v) { return v == -7; }));
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, SlicBadInputTest,
    ::testing::Values(TBadCase{"NullHandle", true, false, false, false, 16, 12, 4, 20},
                      TBadCase{"ForeignHandle", false, true, false, false, 16, 12, 4, 20},
                      TBadCase{"NullPixels", false, false, true, false, 16, 12, 4, 20},
                      TBadCase{"NullLabels", false, false, false, true, 16, 12, 4, 20},
                      TBadCase{"ZeroWidth", false, false, false, false, 0, 12, 4, 20},
                      TBadCase{"NegativeHeight", false, false, false, false, 16, -1, 4, 20},
                      TBadCase{"ZeroK", false, false, false, false, 16, 12, 0, 20},
                      TBadCase{"NegativeK", false, false, false, false, 16, 12, -5, 20},
                      TBadCase{"NaNCompactness", false, false, false, false, 16, 12, 4, kNaN},
                      TBadCase{"InfiniteCompactness", false, false, false, false, 16, 12, 4, kInf},
                      TBadCase{"NegInfCompactness", false, false, false, false, 16, 12, 4, -kInf},
                      // 2^32 pixels: rejected before the (small) buffers are touched.
                      TBadCase{"PixelCountOverflow", false, false, false, false, 65536, 65536, 4,
                               20}),
    [](const ::testing::TestParamInfo<TBadCase>& info) { return std::string(info.param.Name); });

TEST(SlicTest, NullCountPointerAndZeroHandleAreHarmless)
{
    const TImage im = MakeImage(16, 12, 3);
    std::vector<int32_t> labels(im.Pixels.size());
    const SLICHandle h = NewSLIC();
    DoSuperpixelSegmentation_ForGivenK(h, im.Pixels.data(), 16, 12, labels.data(), nullptr, 4, 20);
    DeleteSLICHandle(h);
    DeleteSLICHandle(0);
    EXPECT_TRUE(std::all_of(labels.begin(), labels.end(),
                            [](int32_t v) { return v >= 0 && v < 16 * 12; }));
}

#if defined(__GLIBC__)
// The program runs with traps on division by zero and invalid operations; the library must
// neither trip them nor leave them changed.
TEST(SlicTest, RunsUnderFloatingPointTrapsAndRestoresThem)
{
    const TImage im = MakeImage(120, 90, 8);
    const TResult plain = Segment(im, 30);
    const int traps = FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW;
    feenableexcept(traps);
    const TResult trapped = Segment(im, 30);
    const int after = fegetexcept();
    fedisableexcept(traps);
    EXPECT_EQ(after, traps);
    EXPECT_EQ(trapped.Labels, plain.Labels);
}
#endif

TEST(SlicTest, SameInputGivesSameLabelsAlsoOnAReusedHandle)
{
    const TImage a = MakeImage(150, 110, 21), b = MakeImage(90, 130, 22);
    const TResult first = Segment(a, 70);
    EXPECT_EQ(Segment(a, 70).Labels, first.Labels);

    // A handle used twice must not carry anything over from its first image.
    std::vector<int32_t> labels(a.Pixels.size());
    std::vector<int32_t> other(b.Pixels.size());
    int32_t count = 0;
    const SLICHandle h = NewSLIC();
    DoSuperpixelSegmentation_ForGivenK(h, b.Pixels.data(), b.Width, b.Height, other.data(), &count,
                                       40, 5);
    DoSuperpixelSegmentation_ForGivenK(h, a.Pixels.data(), a.Width, a.Height, labels.data(), &count,
                                       70, 20);
    DeleteSLICHandle(h);
    EXPECT_EQ(count, first.Count);
    EXPECT_EQ(labels, first.Labels);
}

TEST(SlicTest, ConcurrentSegmentationsMatchSequentialOnes)
{
    std::vector<TImage> images;
    for (uint32_t i = 0; i < 4; ++i)
        images.push_back(MakeImage(300 + 40 * int32_t(i), 220, 100 + i));
    std::vector<TResult> sequential;
    for (const TImage& im : images)
        sequential.push_back(Segment(im, 150));

    std::vector<std::vector<TResult>> concurrent(images.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < images.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                concurrent[t].push_back(Segment(images[t], 150));
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (size_t t = 0; t < images.size(); ++t) {
        for (const TResult& r : concurrent[t]) {
            EXPECT_EQ(r.Count, sequential[t].Count) << "image " << t;
            EXPECT_EQ(r.Labels, sequential[t].Labels) << "image " << t;
        }
    }
}

struct TSmallCase {
    int32_t Width, Height, K;
    double Compactness;
};

void PrintTo(const TSmallCase& c, std::ostream* os)
{
    *os << c.Width << "x" << c.Height << " K=" << c.K << " m=" << c.Compactness;
}

class SlicSmallImageTest : public ::testing::TestWithParam<TSmallCase> {};

// Tiny and thin images, K above the pixel count (clamped) and extreme finite compactness: still a
// valid partition with no more superpixels than pixels.
TEST_P(SlicSmallImageTest, GivesValidPartition)
{
    const TSmallCase c = GetParam();
    const TImage im = MakeImage(c.Width, c.Height, 5);
    const TResult r = Segment(im, c.K, c.Compactness);
    EXPECT_TRUE(IsPartition(r, c.Width, c.Height));
    EXPECT_LE(r.Count, c.Width * c.Height);
}

INSTANTIATE_TEST_SUITE_P(Cases, SlicSmallImageTest,
                         ::testing::Values(TSmallCase{1, 1, 1, 20}, TSmallCase{1, 1, 50, 20},
                                           TSmallCase{1, 40, 5, 20}, TSmallCase{40, 1, 5, 20},
                                           TSmallCase{3, 2, 6, 20}, TSmallCase{3, 2, 1000, 20},
                                           TSmallCase{10, 10, 1000, 20},
                                           TSmallCase{50, 40, 20, 0},
                                           TSmallCase{50, 40, 20, -20},
                                           TSmallCase{50, 40, 20, 1e300}),
                         [](const ::testing::TestParamInfo<TSmallCase>& info) {
                             const TSmallCase& c = info.param;
                             return CaseName(c.Width, c.Height, c.K, c.Compactness);
                         });

} // namespace
