// The "Parameters" sheet of the export: what a publication must say about how each exported
// photograph was measured.
#include "Export.h"

#include "TTeeth.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr int32_t ParameterColumns = int32_t(ParameterNames.size());

// One row, filled from column 1 to the right; an empty text or a real that is not finite leaves
// its cell empty.
class TRowWriter {
public:
    TRowWriter(TCells& cells, int32_t row) : fCells(cells), fRow(row) {}

    void Text(const QString& s) { Add(s.isEmpty(), s); }
    void Integer(int32_t i) { Add(false, i); }
    void Real(double d) { Add(!std::isfinite(d), d); }
    void Skip(int32_t columns) { fColumn += columns; }

private:
    void Add(bool empty, std::variant<QString, int32_t, double> value)
    {
        if (!empty)
            fCells.push_back({fRow, fColumn, std::move(value)});
        ++fColumn;
    }

    TCells& fCells;
    int32_t fRow;
    int32_t fColumn = 1;
};

// The researcher's own folders above the study say nothing and may be private.
QString StudyFileName(const TTeeth& teeth, const TTooth& tooth)
{
    if (!teeth.path.isEmpty()) {
        // Both absolute: Qt leaves a relative file name as it is.
        const QString relative = QDir(QFileInfo(teeth.path).absoluteFilePath())
                                     .relativeFilePath(QFileInfo(tooth.fname).absoluteFilePath());
        if (!relative.startsWith(QLatin1String("../")) && !QDir::isAbsolutePath(relative))
            return relative;
    }
    return QFileInfo(tooth.fname).fileName();
}

QString Alignment(const TTooth& tooth)
{
    if (tooth.Parent && tooth.Parent->First() == &tooth)
        return QStringLiteral("reference");
    return tooth.NelmDone ? QStringLiteral("yes") : QStringLiteral("no");
}

// A quality that cannot be computed (a photograph too small to compare) is simply not reported:
// the export must not fail over a figure that only describes.
double Quality(const TTooth& tooth)
{
    try {
        return TTeeth::AlignQuality(tooth);
    } catch (const TOrvixError&) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}

// Each quality compares two whole photographs (some 30 ms at 4000 x 3000) and the export runs on
// the UI thread: they are computed on as many threads as the study has workers.
std::vector<double> Qualities(const std::vector<const TTooth*>& photos, int32_t threads)
{
    std::vector<double> qualities(photos.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < photos.size();)
            qualities[i] = Quality(*photos[i]);
    };
    std::vector<std::thread> helpers;
    for (int32_t t = 1; t < threads && size_t(t) < photos.size(); ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
    return qualities;
}

void AddRow(const TTeeth& teeth, const TTooth& tooth, double quality, int32_t blockRow, int32_t row, TCells& cells)
{
    TRowWriter w(cells, row);
    w.Text(teeth.psina);
    w.Integer(blockRow);
    w.Text(StudyFileName(teeth, tooth));
    w.Integer(tooth.ID);
    w.Text(tooth.tname);
    w.Integer(tooth.TimePoint);
    // The fields of a photograph never calculated hold no parameters that produced anything.
    if (tooth.Done()) {
        w.Integer(tooth.SPnumber);
        w.Real(tooth.Compactness);
        w.Real(tooth.BGThreshold);
        w.Real(tooth.RGThreshold);
        // As the classification decides it (TTooth::Appraise).
        w.Text(!tooth.DisableMask && tooth.HasMask() ? QStringLiteral("yes") : QStringLiteral("no"));
    } else {
        w.Skip(5);
    }
    w.Text(Alignment(tooth));
    const TTransPars& t = tooth.TransPars;
    for (double v : {t.fAngle, t.Shiftx, t.Shifty, t.Scalex, t.Scaley, t.Coeff})
        w.Real(v);
    w.Real(quality);
}

} // namespace

int32_t BuildParameterRows(const TTeeth& Teeth, int32_t BlockRow, int32_t StartRow, TCells& Cells)
{
    int32_t row = StartRow;
    if (row == 1) {
        for (int32_t c = 0; c < ParameterColumns; ++c)
            Cells.push_back({1, c + 1, QString::fromLatin1(ParameterNames[size_t(c)])});
        ++row;
    }
    // The photographs of the block, in its order: the first of several at one time point only.
    std::vector<const TTooth*> photos;
    const int32_t last = Teeth.LastTimePoint();
    for (int32_t t = 0; t < Teeth.Count(); ++t)
        for (int32_t u = 0; u <= last; ++u)
            if (const TTooth* tooth = Teeth.GetTooth(t, u))
                photos.push_back(tooth);
    const std::vector<double> qualities = Qualities(photos, Teeth.NumberOfThreads());
    for (size_t i = 0; i < photos.size(); ++i)
        AddRow(Teeth, *photos[i], qualities[i], BlockRow, row++, Cells);
    return row;
}

int32_t ParameterSheetEnd(const TCells& Cells)
{
    if (Cells.empty())
        return 1;
    std::vector<bool> named(size_t(ParameterColumns), false);
    int32_t end = 2;
    for (const TCell& c : Cells) {
        if (c.Row < 1 || c.Column < 1 || c.Column > ParameterColumns)
            throw TOrvixError(QString("%1 sheet: a cell outside its columns (row %2)")
                                  .arg(ParametersSheetName)
                                  .arg(c.Row)
                                  .toStdString());
        if (c.Row == 1) {
            const QString* text = std::get_if<QString>(&c.Value);
            if (!text || *text != QLatin1String(ParameterNames[size_t(c.Column - 1)]))
                throw TOrvixError(QString("%1 sheet: column %2 of its header is not \"%3\"")
                                      .arg(ParametersSheetName)
                                      .arg(c.Column)
                                      .arg(ParameterNames[size_t(c.Column - 1)])
                                      .toStdString());
            named[size_t(c.Column - 1)] = true;
        }
        end = std::max(end, c.Row + 1);
    }
    if (std::find(named.begin(), named.end(), false) != named.end())
        throw TOrvixError(QString("%1 sheet: its header is incomplete").arg(ParametersSheetName).toStdString());
    return end;
}
