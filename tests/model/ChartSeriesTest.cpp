#include "ChartSeries.h"
#include "ToothFixture.h"

#include <QDir>

// Two teeth (11 at time points 0, 1, 2; 21 at 0 and 2) with set areas.
class ChartSeriesTest : public ToothFixture {
protected:
    TTeeth Study{1};

    void SetUp() override
    {
        QDir(Dir.path()).mkpath("v");
        for (const char* n : {"A11000.bmp", "A11001.bmp", "A11002.bmp", "A21000.bmp", "A21002.bmp"})
            WriteBitmap(QString("v/") + n, 2, 2, {0, 0, 0, 0});
        Study.LoadFolder(Dir.path());
        SetAreas(0, 0, 10, 40);
        SetAreas(0, 1, 5, 5);
        SetAreas(0, 2, 0, 0);
        SetAreas(1, 0, 30, 20);
        SetAreas(1, 1, 0, 0);
    }
    void SetAreas(int32_t tooth, int32_t index, double red, double green)
    {
        (*Study[tooth])[index]->RArea = red;
        (*Study[tooth])[index]->GArea = green;
    }
};

TEST_F(ChartSeriesTest, OneLinePerCheckedToothThroughItsPhotographs)
{
    const auto lines = ToothLines(Study, {true, true}, 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Title, Study[0]->Name());
    EXPECT_EQ(lines[0].Points, (std::vector<TChartPoint>{{0, 10}, {1, 5}, {2, 0}}));
    EXPECT_EQ(lines[1].Points, (std::vector<TChartPoint>{{0, 30}, {2, 0}})) << "no point where no photograph";
    EXPECT_EQ(ToothLines(Study, {false, true}, 0).size(), 1u);
    EXPECT_TRUE(ToothLines(Study, {}, 0).empty());
}

TEST_F(ChartSeriesTest, AverageFormsRatiosFromSummedAreas)
{
    struct TCase {
        int32_t Param;
        std::vector<double> Expected; // at time points 0, 1, 2
    };
    const TCase cases[] = {
        {0, {50, 10, 0}},
        {1, {20, 5, 0}},
        {2, {30, 5, 0}},
        {3, {40.0 / 60.0, 1, 100}}, // (10 + 30) / (40 + 20): two thirds, not the mean of 0.25 and 1.5
        {4, {40, 50, 0}},           // no area at all: 0
    };
    for (const TCase& c : cases) {
        const TChartLine line = AverageLine(Study, {true, true}, c.Param);
        EXPECT_EQ(line.Title, "Average");
        ASSERT_EQ(line.Points.size(), 3u);
        for (size_t t = 0; t < 3; ++t) {
            EXPECT_EQ(line.Points[t].X, double(t));
            EXPECT_DOUBLE_EQ(line.Points[t].Y, c.Expected[t]) << "param " << c.Param << " time " << t;
        }
    }
    // Nothing checked: the flat line of empty areas.
    const TChartLine none = AverageLine(Study, {}, 3);
    for (const TChartPoint& p : none.Points)
        EXPECT_EQ(p.Y, 100);
}
