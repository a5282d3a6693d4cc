// The block of cells of a study and the whole export to a file.
#include "Export.h"

#include "ExportFormats.h"
#include "FileList.h"
#include "TTeeth.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <map>
#include <numeric>
#include <unistd.h>

namespace {

constexpr int32_t Measurements = int32_t(MeasurementNames.size());

int32_t ColumnOf(int32_t tooth, int32_t measurement)
{
    return Measurements * tooth + measurement + 2;
}

// The cells of each row, by row and column.
using TGrid = std::map<int32_t, std::map<int32_t, const TCell*>>;

TGrid GridOf(const TCells& cells)
{
    TGrid grid;
    for (const TCell& c : cells)
        grid[c.Row][c.Column] = &c;
    return grid;
}

[[noreturn]] void NotABlock(int32_t row, const char* what)
{
    throw TOrvixError(QString("row %1: %2").arg(row).arg(what).toStdString());
}

const std::map<int32_t, const TCell*>& RowOf(const TGrid& grid, int32_t row)
{
    static const std::map<int32_t, const TCell*> none;
    const auto it = grid.find(row);
    return it == grid.end() ? none : it->second;
}

bool IsText(const TCell* c, const QString* expected = nullptr)
{
    const QString* text = std::get_if<QString>(&c->Value);
    return text && (!expected || *text == *expected);
}

bool IsNumber(const TCell* c)
{
    return !std::holds_alternative<QString>(c->Value);
}

// A number equal to the integer u (an .xlsx gives every number back as a real).
bool IsInteger(const TCell* c, int32_t u)
{
    if (const int32_t* i = std::get_if<int32_t>(&c->Value))
        return *i == u;
    const double* d = std::get_if<double>(&c->Value);
    return d && *d == double(u);
}

// The three header rows of a block at row r; returns the width of the block (1 + 5 teeth).
int32_t CheckHeader(const TGrid& grid, int32_t r)
{
    const auto& name = RowOf(grid, r);
    if (name.size() > 1 || (name.size() == 1 && (name.begin()->first != 1 || !IsText(name.begin()->second))))
        NotABlock(r, "expected the study's name alone in column 1");
    const auto& measures = RowOf(grid, r + 2);
    const int32_t width = measures.empty() ? 0 : measures.rbegin()->first;
    if (width < 6 || (width - 1) % Measurements != 0 || int32_t(measures.size()) != width - 1)
        NotABlock(r + 2, "expected the measurement names of every tooth");
    for (const auto& [column, cell] : measures) {
        // Columns come from the file: column 1 is left of every tooth and has no measurement name.
        if (column < 2)
            NotABlock(r + 2, "expected column 1 of the measurement names' row to be empty");
        const QString expected = MeasurementNames[size_t((column - 2) % Measurements)];
        if (!IsText(cell, &expected))
            NotABlock(r + 2, "expected the measurement names of every tooth");
    }
    const auto& teeth = RowOf(grid, r + 1);
    const QString time = QStringLiteral("Time");
    if (teeth.empty() || teeth.begin()->first != 1 || !IsText(teeth.begin()->second, &time) ||
        teeth.rbegin()->first > width ||
        !std::all_of(teeth.begin(), teeth.end(), [](const auto& e) { return IsText(e.second); }))
        NotABlock(r + 1, "expected \"Time\" and the tooth names");
    return width;
}

} // namespace

int32_t ExportBlockRows(const TTeeth& Teeth)
{
    const int32_t last = Teeth.LastTimePoint();
    return last < 0 ? 0 : last + 4;
}

int32_t BuildExportBlock(const TTeeth& Teeth, int32_t StartRow, TCells& Cells)
{
    const int32_t rows = ExportBlockRows(Teeth);
    if (rows == 0)
        return StartRow;
    const int32_t r = StartRow;
    Cells.push_back({r, 1, Teeth.psina});
    Cells.push_back({r + 1, 1, QStringLiteral("Time")});
    for (int32_t t = 0; t < Teeth.Count(); ++t)
        if (const QString name = Teeth[t]->Name(); !name.isEmpty())
            for (int32_t p = 0; p < Measurements; ++p)
                Cells.push_back({r + 1, ColumnOf(t, p), name});
    for (int32_t t = 0; t < Teeth.Count(); ++t)
        for (int32_t p = 0; p < Measurements; ++p)
            Cells.push_back({r + 2, ColumnOf(t, p), QString::fromLatin1(MeasurementNames[size_t(p)])});
    for (int32_t u = 0; u < rows - 3; ++u) {
        Cells.push_back({r + 3 + u, 1, u});
        for (int32_t t = 0; t < Teeth.Count(); ++t)
            if (const TTooth* tooth = Teeth.GetTooth(t, u))
                for (int32_t p = 0; p < Measurements; ++p)
                    Cells.push_back({r + 3 + u, ColumnOf(t, p), tooth->GetParam(p)});
    }
    return r + rows;
}

TIntVector ExportBlockStarts(const TCells& Cells)
{
    const TGrid grid = GridOf(Cells);
    const int32_t lastRow = grid.empty() ? 0 : grid.rbegin()->first;
    if (!grid.empty() && grid.begin()->first < 1)
        NotABlock(grid.begin()->first, "rows start at 1");
    TIntVector starts;
    int32_t r = 1;
    while (r <= lastRow) {
        const int32_t width = CheckHeader(grid, r);
        starts.push_back(r);
        int32_t u = 0;
        for (int32_t row = r + 3;; ++row, ++u) {
            const auto& cells = RowOf(grid, row);
            if (cells.empty() || cells.begin()->first != 1 || !IsInteger(cells.begin()->second, u))
                break;
            if (cells.rbegin()->first > width ||
                !std::all_of(cells.begin(), cells.end(), [](const auto& e) { return IsNumber(e.second); }))
                NotABlock(row, "expected the time point and numbers within the block");
        }
        if (u == 0)
            NotABlock(r + 3, "expected time point 0");
        r += 3 + u;
    }
    return starts;
}

bool ExportFormatOf(const QString& FileName, TExportFormat& Format)
{
    const QString suffix = QFileInfo(FileName).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        Format = TExportFormat::Csv;
    else if (suffix == QLatin1String("xlsx"))
        Format = TExportFormat::Xlsx;
    else
        return false;
    return true;
}

namespace {

TCells SortedCells(const TCells& cells)
{
    // Sorted through an index: moving the cells themselves trips a false GCC 12 warning on variant.
    std::vector<size_t> order(cells.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::pair(cells[a].Row, cells[a].Column) < std::pair(cells[b].Row, cells[b].Column);
    });
    TCells sorted;
    sorted.reserve(cells.size());
    for (size_t i : order)
        sorted.push_back(cells[i]);
    return sorted;
}

} // namespace

void WriteExportFile(const QString& FileName, TExportFormat Format, const TExportBook& Book)
{
    if (Format == TExportFormat::Csv)
        WriteCsv(FileName, SortedCells(Book.Blocks));
    else
        WriteXlsx(FileName, {SortedCells(Book.Blocks), SortedCells(Book.Parameters)});
}

void WriteExportFile(const QString& FileName, TExportFormat Format, const TCells& Cells)
{
    WriteExportFile(FileName, Format, TExportBook{Cells, {}});
}

TExportBook ReadExportBook(const QString& FileName, TExportFormat Format)
{
    return Format == TExportFormat::Csv ? TExportBook{ReadCsv(FileName), {}} : ReadXlsx(FileName);
}

TCells ReadExportFile(const QString& FileName, TExportFormat Format)
{
    return ReadExportBook(FileName, Format).Blocks;
}

namespace {

// The new file and its temporary file go into the folder of fileName.
void CheckFolder(const QString& fileName)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    if (!QFileInfo(folder).isDir())
        throw TOrvixError(QString("%1: the folder %2 does not exist").arg(fileName, folder).toStdString());
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        throw TOrvixError(QString("%1: the folder %2 cannot be written").arg(fileName, folder).toStdString());
}

// The format of FileName and the cells already in it (none for a new file); the row where the
// next block starts.
int32_t ReadExisting(const QString& fileName, TExportFormat& format, TExportBook& book)
{
    if (!ExportFormatOf(fileName, format))
        throw TOrvixError(QString("%1: the export file must end in .xlsx or .csv").arg(fileName).toStdString());
    book = {};
    CheckFolder(fileName);
    const QFileInfo info(fileName);
    if (!info.exists())
        return 1;
    if (!MayReplaceFile(fileName))
        throw TOrvixError(QString("%1 is write-protected or belongs to someone else; it is left alone")
                              .arg(fileName)
                              .toStdString());
    try {
        book = ReadExportBook(fileName, format);
        if (ExportBlockStarts(book.Blocks).empty())
            throw TOrvixError("it holds no block");
        ParameterSheetEnd(book.Parameters);
    } catch (const TOrvixError& e) {
        throw TOrvixError(QString("%1 exists and is not an export of this program (%2)")
                              .arg(fileName, QString::fromStdString(e.what()))
                              .toStdString());
    }
    int32_t next = 1;
    for (const TCell& c : book.Blocks)
        next = std::max(next, c.Row + 1);
    return next;
}

} // namespace

int32_t CheckExportFile(const QString& FileName)
{
    TExportFormat format;
    TExportBook book;
    return ReadExisting(FileName, format, book);
}

int32_t ExportStudy(const TTeeth& Teeth, const QString& FileName, int32_t LockTimeoutMs)
{
    if (ExportBlockRows(Teeth) == 0)
        throw TOrvixError("the study holds no photographs: nothing to export");
    // Without it two exports read the same old blocks and the later replacement drops the
    // other's block. Staleness is decided by the holder's process id alone: a long export is not
    // stale.
    QLockFile lock(FileName + ".lock");
    lock.setStaleLockTime(0);
    CheckFolder(FileName);
    if (!lock.tryLock(LockTimeoutMs)) {
        if (lock.error() == QLockFile::LockFailedError)
            throw TOrvixError(QString("another export to %1 is in progress (lock file %1.lock); try again when it "
                                      "has finished")
                                  .arg(FileName)
                                  .toStdString());
        throw TOrvixError(
            QString("Unable to write %1: cannot create the lock file %1.lock").arg(FileName).toStdString());
    }
    TExportFormat format;
    TExportBook book;
    const int32_t start = ReadExisting(FileName, format, book);
    BuildExportBlock(Teeth, start, book.Blocks);
    // An older workbook of ours, with the blocks alone, gets the sheet with its header now.
    if (format == TExportFormat::Xlsx)
        BuildParameterRows(Teeth, start, ParameterSheetEnd(book.Parameters), book.Parameters);
    WriteExportFile(FileName, format, book);
    return start;
}
