// The parameter chart: lines of one measurement over the time points, on a grey-to-white gradient,
// with its "Chart options" dialog (double click) for titles, axis ranges, legend, marker size and
// saving or copying the picture. Options the user set survive rebuilds until ResetOptions.
#pragma once

#include "ChartSeries.h"

#include <QChartView>
#include <optional>

class QLineSeries;
class QValueAxis;

// What the user changed in "Chart options"; unset fields follow the data.
struct TChartOptions {
    std::optional<QString> Title, XTitle, YTitle;
    std::optional<QPointF> XRange, YRange; // fixed (min, max); unset: automatic
    std::optional<bool> Legend;
    std::optional<double> MarkerSize;
};

class TChartView : public QChartView {
    Q_OBJECT
public:
    explicit TChartView(QWidget* parent = nullptr);

    // Replaces every line. XTitle and YTitle name the axes; Title is the chart's title, or
    // nothing to keep the one shown. YFromZero starts the value axis at 0.
    void SetLines(const std::optional<QString>& Title, const QString& XTitle, const QString& YTitle,
                  const std::vector<TChartLine>& Lines, bool YFromZero);
    // The lines as drawn, for tests: title and points of each series.
    std::vector<TChartLine> Lines() const;
    QValueAxis* AxisX() const { return fAxisX; }
    QValueAxis* AxisY() const { return fAxisY; }

    const TChartOptions& Options() const { return fOptions; }
    void SetOptions(const TChartOptions& Options);
    void ResetOptions() { fOptions = {}; }
    // The chart as a picture: PNG, or SVG by the file's extension. False when it cannot be written.
    bool SaveImage(const QString& FileName);
    void CopyImage();
    // Opens "Chart options" (not modal for the caller: it returns at once).
    void ShowOptions();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ApplyOptions();
    void FitAxes(bool YFromZero);

    QValueAxis* fAxisX = nullptr;
    QValueAxis* fAxisY = nullptr;
    QString fDataTitle, fDataXTitle, fDataYTitle;
    bool fYFromZero = true;
    TChartOptions fOptions;
};
