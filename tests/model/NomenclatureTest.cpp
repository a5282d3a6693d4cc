#include "Nomenclature.h"

#include <gtest/gtest.h>

TEST(NomenclatureTest, NamesForBothSpecies)
{
    struct TCase {
        int32_t Number;
        const char* Dog;
        const char* Cat;
    };
    const TCase cases[] = {
        {10, "", ""},           {11, "RmaxI2", "RmaxI1"}, {13, "RmaxC", "RmaxI3"}, {14, "RmaxP1", "RmaxC"},
        {15, "RmaxP2", "RmaxP2"}, {18, "RmaxM1", "RmaxM1"}, {19, "", ""},          {20, "", ""},
        {21, "LmaxI2", "LmaxI1"}, {24, "LmaxP1", "LmaxC"},  {31, "LmanI2", ""},    {32, "LmanI3", "LmanI1"},
        {35, "LmanP2", "LmanC"},  {36, "LmanP3", "LmanP3"}, {40, "", ""},          {41, "RmanI2", ""},
        {42, "RmanI3", "RmanI1"}, {45, "RmanP2", "RmanC"},  {48, "RmanM1", "RmanM1"}, {49, "", ""},
        {99, "", ""},           {-11, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToothName(true, c.Number), QString::fromLatin1(c.Dog)) << c.Number;
        EXPECT_EQ(ToothName(false, c.Number), QString::fromLatin1(c.Cat)) << c.Number;
    }
}
