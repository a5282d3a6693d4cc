#include "TChartView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QSvgGenerator>
#include <QValueAxis>
#include <cmath>

namespace {

constexpr double DefaultMarkerSize = 7;

QDoubleSpinBox* RangeBox(double value)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(-1e9, 1e9);
    box->setDecimals(3);
    box->setValue(value);
    return box;
}

} // namespace

TChartView::TChartView(QWidget* parent) : QChartView(parent)
{
    setObjectName("Chart");
    setRenderHint(QPainter::Antialiasing);
    QChart* c = chart();
    QLinearGradient background(0, 1, 0, 0);
    background.setCoordinateMode(QGradient::ObjectBoundingMode);
    background.setColorAt(0, QColor(234, 234, 234));
    background.setColorAt(1, Qt::white);
    c->setBackgroundBrush(background);
    c->setBackgroundRoundness(0);
    c->legend()->setVisible(true);
    c->legend()->setAlignment(Qt::AlignRight);
    fAxisX = new QValueAxis;
    fAxisY = new QValueAxis;
    for (QValueAxis* axis : {fAxisX, fAxisY}) {
        axis->setLinePen(QPen(QColor(64, 64, 64)));
        axis->setGridLinePen(QPen(QColor(169, 169, 169)));
        axis->setLabelsColor(QColor(64, 64, 64));
    }
    // Time points are whole numbers.
    fAxisX->setLabelFormat("%d");
    fAxisX->setTickType(QValueAxis::TicksDynamic);
    fAxisX->setTickAnchor(0);
    fAxisX->setTickInterval(1);
    fAxisX->setRange(0, 1);
    fAxisY->setRange(0, 1);
    c->addAxis(fAxisX, Qt::AlignBottom);
    c->addAxis(fAxisY, Qt::AlignLeft);
}

void TChartView::SetLines(const std::optional<QString>& Title, const QString& XTitle, const QString& YTitle,
                          const std::vector<TChartLine>& Lines, bool YFromZero)
{
    QChart* c = chart();
    c->removeAllSeries();
    if (Title)
        fDataTitle = *Title;
    fDataXTitle = XTitle;
    fDataYTitle = YTitle;
    fYFromZero = YFromZero;
    for (const TChartLine& line : Lines) {
        auto* series = new QLineSeries;
        series->setName(line.Title);
        series->setPointsVisible(true);
        for (const TChartPoint& p : line.Points)
            series->append(p.X, p.Y);
        c->addSeries(series);
        series->attachAxis(fAxisX);
        series->attachAxis(fAxisY);
    }
    FitAxes(YFromZero);
    ApplyOptions();
}

std::vector<TChartLine> TChartView::Lines() const
{
    std::vector<TChartLine> lines;
    for (QAbstractSeries* s : chart()->series()) {
        auto* series = static_cast<QLineSeries*>(s);
        TChartLine line{series->name(), {}};
        for (const QPointF& p : series->points())
            line.Points.push_back({p.x(), p.y()});
        lines.push_back(std::move(line));
    }
    return lines;
}

void TChartView::FitAxes(bool YFromZero)
{
    double xMax = 1, yMin = YFromZero ? 0 : INFINITY, yMax = -INFINITY;
    for (const TChartLine& line : Lines())
        for (const TChartPoint& p : line.Points) {
            xMax = std::max(xMax, p.X);
            yMin = std::min(yMin, p.Y);
            yMax = std::max(yMax, p.Y);
        }
    if (!std::isfinite(yMin) || !std::isfinite(yMax)) {
        yMin = 0;
        yMax = 1;
    }
    if (yMax <= yMin)
        yMax = yMin + 1;
    // A little room on both sides, so the first and the last markers are drawn whole.
    fAxisX->setRange(-0.1 * xMax, 1.1 * xMax);
    // About ten whole-number ticks, however many time points there are.
    fAxisX->setTickInterval(std::max(1.0, std::ceil(xMax / 10)));
    fAxisY->setRange(yMin, yMax);
    fAxisY->applyNiceNumbers();
    if (YFromZero && fAxisY->min() < 0)
        fAxisY->setMin(0);
}

void TChartView::SetOptions(const TChartOptions& Options)
{
    fOptions = Options;
    FitAxes(fYFromZero);
    ApplyOptions();
}

void TChartView::ApplyOptions()
{
    QChart* c = chart();
    c->setTitle(fOptions.Title.value_or(fDataTitle));
    fAxisX->setTitleText(fOptions.XTitle.value_or(fDataXTitle));
    fAxisY->setTitleText(fOptions.YTitle.value_or(fDataYTitle));
    if (fOptions.XRange)
        fAxisX->setRange(fOptions.XRange->x(), fOptions.XRange->y());
    if (fOptions.YRange)
        fAxisY->setRange(fOptions.YRange->x(), fOptions.YRange->y());
    c->legend()->setVisible(fOptions.Legend.value_or(true));
    for (QAbstractSeries* s : c->series())
        static_cast<QLineSeries*>(s)->setMarkerSize(fOptions.MarkerSize.value_or(DefaultMarkerSize));
}

bool TChartView::SaveImage(const QString& FileName)
{
    if (QFileInfo(FileName).suffix().compare("svg", Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(FileName);
        svg.setSize(size());
        svg.setViewBox(rect());
        svg.setTitle(chart()->title());
        QPainter painter;
        if (!painter.begin(&svg))
            return false;
        render(&painter);
        return painter.end();
    }
    return grab().save(FileName, "PNG");
}

void TChartView::CopyImage()
{
    QApplication::clipboard()->setPixmap(grab());
}

void TChartView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QChartView::mouseDoubleClickEvent(event);
    ShowOptions();
}

void TChartView::ShowOptions()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName("ChartOptions");
    dialog->setWindowTitle("Chart options");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout;
    auto* title = new QLineEdit(chart()->title());
    auto* xTitle = new QLineEdit(fAxisX->titleText());
    auto* yTitle = new QLineEdit(fAxisY->titleText());
    form->addRow("Chart title", title);
    form->addRow("Time axis title", xTitle);
    form->addRow("Value axis title", yTitle);
    auto* automatic = new QCheckBox("Automatic axis ranges");
    automatic->setChecked(!fOptions.XRange && !fOptions.YRange);
    QDoubleSpinBox* xMin = RangeBox(fAxisX->min());
    QDoubleSpinBox* xMax = RangeBox(fAxisX->max());
    QDoubleSpinBox* yMin = RangeBox(fAxisY->min());
    QDoubleSpinBox* yMax = RangeBox(fAxisY->max());
    auto* xRow = new QHBoxLayout;
    xRow->addWidget(xMin);
    xRow->addWidget(xMax);
    auto* yRow = new QHBoxLayout;
    yRow->addWidget(yMin);
    yRow->addWidget(yMax);
    form->addRow(automatic);
    form->addRow("Time axis from, to", xRow);
    form->addRow("Value axis from, to", yRow);
    auto enableRanges = [=](bool autoRanges) {
        for (QWidget* w : {xMin, xMax, yMin, yMax})
            w->setEnabled(!autoRanges);
    };
    enableRanges(automatic->isChecked());
    connect(automatic, &QCheckBox::toggled, dialog, enableRanges);
    auto* legend = new QCheckBox("Show legend");
    legend->setChecked(chart()->legend()->isVisible());
    form->addRow(legend);
    auto* marker = new QDoubleSpinBox;
    marker->setRange(1, 40);
    marker->setValue(fOptions.MarkerSize.value_or(DefaultMarkerSize));
    form->addRow("Marker size", marker);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* save = buttons->addButton("Save image...", QDialogButtonBox::ActionRole);
    QPushButton* copy = buttons->addButton("Copy", QDialogButtonBox::ActionRole);
    connect(save, &QPushButton::clicked, dialog, [this, dialog] {
        const QString name = QFileDialog::getSaveFileName(dialog, "Save chart image", chart()->title() + ".png",
                                                          "PNG image (*.png);;SVG drawing (*.svg)");
        if (!name.isEmpty() && !SaveImage(name))
            QMessageBox::warning(dialog, "Chart options", "The image could not be written to " + name);
    });
    connect(copy, &QPushButton::clicked, this, &TChartView::CopyImage);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [=, this] {
        // Only what the user changed is kept: the rest goes on following the data.
        TChartOptions o = fOptions;
        if (title->text() != chart()->title())
            o.Title = title->text();
        if (xTitle->text() != fAxisX->titleText())
            o.XTitle = xTitle->text();
        if (yTitle->text() != fAxisY->titleText())
            o.YTitle = yTitle->text();
        if (automatic->isChecked()) {
            o.XRange.reset();
            o.YRange.reset();
        } else {
            o.XRange = QPointF(xMin->value(), xMax->value());
            o.YRange = QPointF(yMin->value(), yMax->value());
        }
        if (legend->isChecked() != chart()->legend()->isVisible())
            o.Legend = legend->isChecked();
        if (marker->value() != fOptions.MarkerSize.value_or(DefaultMarkerSize))
            o.MarkerSize = marker->value();
        SetOptions(o);
        dialog->accept();
    });
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    dialog->open();
}
