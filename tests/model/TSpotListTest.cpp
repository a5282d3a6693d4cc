#include "TSpotList.h"

#include <gtest/gtest.h>

namespace {

std::vector<TPoint> Points(const TPointList& l)
{
    std::vector<TPoint> p;
    for (int32_t i = 0; i < l.Count(); ++i)
        p.push_back(l.Getdata(i));
    return p;
}

struct TSpotCase {
    const char* name;
    int32_t w, h;
    TIntVector img;
    std::vector<int32_t> spotSizes;
};

void PrintTo(const TSpotCase& c, std::ostream* os)
{
    *os << c.name;
}

class FindSpotsTest : public testing::TestWithParam<TSpotCase> {};

} // namespace

TEST_P(FindSpotsTest, SplitsIntoEightConnectedSpotsAndConsumesTheInput)
{
    TSpotCase c = GetParam();
    TSpotList list;
    list.Add()->Add(9, 9); // stale content must go
    FindSpots(c.img, c.w, c.h, list);
    std::vector<int32_t> sizes;
    for (int32_t i = 0; i < list.Count(); ++i)
        sizes.push_back(list.Getdata(i)->Count());
    EXPECT_EQ(sizes, c.spotSizes);
    EXPECT_EQ(c.img, TIntVector(c.img.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FindSpotsTest,
    testing::Values(TSpotCase{"Zeros", 3, 2, TIntVector(6, 0), {}},
                    TSpotCase{"Empty", 0, 0, {}, {}},
                    TSpotCase{"SinglePixel", 3, 3, {0, 0, 0, 0, 5, 0, 0, 0, 0}, {1}},
                    TSpotCase{"CornerTouch", 2, 2, {1, 0, 0, 1}, {2}},
                    TSpotCase{"TwoColumnsApart", 3, 1, {1, 0, 1}, {1, 1}},
                    TSpotCase{"DifferentValuesTouching", 4, 1, {1, 1, 2, 2}, {4}},
                    TSpotCase{"RasterOrderOfFirstPixel", 4, 3, {0, 0, 0, 7, 1, 1, 0, 0, 0, 0, 0, 7}, {1, 2, 1}}),
    [](const auto& info) { return info.param.name; });

TEST(TSpotListTest, DepthFirstOrderOfABlock)
{
    TIntVector img(9, 1);
    TSpotList list;
    FindSpots(img, 3, 3, list);
    ASSERT_EQ(list.Count(), 1);
    const std::vector<TPoint> expected = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 0}, {2, 0}, {2, 1}, {1, 2}, {2, 2}};
    EXPECT_EQ(Points(*list.Getdata(0)), expected);
    FindSpots(img, 3, 3, list);
    EXPECT_EQ(list.Count(), 0);

    TIntVector diagonal(12, 0); // w = 3, h = 4
    diagonal[0] = 1;
    diagonal[1 + 3] = 1;
    diagonal[2 + 6] = 2;
    FindSpots(diagonal, 3, 4, list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(Points(*list.Getdata(0)), (std::vector<TPoint>{{0, 0}, {1, 1}, {2, 2}}));
}

TEST(TSpotListTest, BiggestDotPrefersTheFirstOfEqualSpots)
{
    TSpotList list;
    EXPECT_EQ(list.TheBiggestDot(), nullptr);
    list.SetCount(2);
    EXPECT_EQ(list.TheBiggestDot(), nullptr) << "only empty spots";

    // Two 10-pixel bars; the upper one comes first in raster order and wins the tie.
    const int32_t w = 12, h = 5;
    TIntVector img(w * h, 0);
    for (int32_t x = 1; x <= 10; ++x) {
        img[x + 3 * w] = 1;
        img[x + 1 * w] = 1;
    }
    FindSpots(img, w, h, list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.TheBiggestDot(), list.Getdata(0));
    list.Getdata(1)->Add(0, 0);
    EXPECT_EQ(list.TheBiggestDot(), list.Getdata(1));
}
