#include "ChartSeries.h"

namespace {

bool IsChecked(const std::vector<bool>& Checked, int32_t i)
{
    return size_t(i) < Checked.size() && Checked[size_t(i)];
}

} // namespace

std::vector<TChartLine> ToothLines(const TTeeth& Teeth, const std::vector<bool>& Checked, int32_t Param)
{
    std::vector<TChartLine> lines;
    for (int32_t i = 0; i < Teeth.Count(); ++i) {
        if (!IsChecked(Checked, i))
            continue;
        TChartLine line{Teeth[i]->Name(), {}};
        for (const auto& tooth : *Teeth[i])
            line.Points.push_back({double(tooth->TimePoint), tooth->GetParam(Param)});
        lines.push_back(std::move(line));
    }
    return lines;
}

TChartLine AverageLine(const TTeeth& Teeth, const std::vector<bool>& Checked, int32_t Param)
{
    // Every time point from 0 to the latest has its slot, as in the table and the export.
    const size_t timeCount = size_t(Teeth.LastTimePoint() + 1);
    std::vector<double> red(timeCount, 0), green(timeCount, 0);
    std::vector<int32_t> count(timeCount, 0);
    for (int32_t i = 0; i < Teeth.Count(); ++i) {
        if (!IsChecked(Checked, i))
            continue;
        for (const auto& tooth : *Teeth[i]) {
            if (tooth->TimePoint < 0)
                continue;
            const size_t t = size_t(tooth->TimePoint);
            red[t] += tooth->GetParam(1);
            green[t] += tooth->GetParam(2);
            ++count[t];
        }
    }
    TChartLine line{"Average", {}};
    for (size_t t = 0; t < timeCount; ++t) {
        const double r = red[t], g = green[t], c = count[t];
        double v = 0;
        switch (Param) {
        case 0: v = c > 0 ? (r + g) / c : 0; break;
        case 1: v = c > 0 ? r / c : 0; break;
        case 2: v = c > 0 ? g / c : 0; break;
        case 3: v = g > 0 ? r / g : 100; break;
        case 4: v = r + g > 0 ? 100 * r / (r + g) : 0; break;
        default: break;
        }
        line.Points.push_back({double(t), v});
    }
    return line;
}
