// The lines of the parameter chart: one measurement (GetParam index) over the time points, per
// checked tooth or as the average of the checked teeth.
#pragma once

#include "TTeeth.h"

#include <QString>
#include <vector>

struct TChartPoint {
    double X = 0, Y = 0;
    friend bool operator==(const TChartPoint&, const TChartPoint&) = default;
};

struct TChartLine {
    QString Title;
    std::vector<TChartPoint> Points;
};

// For every tooth i (study order) with Checked[i]: a line titled with its name through
// (TimePoint, GetParam(Param)) of its photographs in time order. Missing entries of Checked count
// as unchecked. Reads measurements: not during a batch unless the caller accepts values in flux.
std::vector<TChartLine> ToothLines(const TTeeth& Teeth, const std::vector<bool>& Checked, int32_t Param);

// The "Average" line over the time points 0 to the study's latest, one point each. Areas are the
// means over the checked teeth's photographs at that time point (0 where there are none); the ratio
// and the percentage are formed from the summed red and green areas (ratio 100 where no green,
// percentage 0 where no area), not averaged over the photographs' own ratios.
TChartLine AverageLine(const TTeeth& Teeth, const std::vector<bool>& Checked, int32_t Param);
