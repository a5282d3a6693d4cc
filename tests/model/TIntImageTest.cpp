#include "TIntImage.h"

#include <gtest/gtest.h>

TEST(TIntImageTest, SetSizeCentresOriginAndKeepsLeadingValues)
{
    TIntImage im;
    im.SetSize(5, 3);
    EXPECT_EQ(im.OriginX(), 2.5);
    EXPECT_EQ(im.OriginY(), 1.5);
    EXPECT_EQ(im.img.size(), 15u);
}
