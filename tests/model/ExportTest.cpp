#include "Export.h"
#include "OpenpyxlReader.h"
#include "QtPrinters.h"
#include "TTeeth.h"
#include "ToothFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>

#include <chrono>
#include <cmath>
#include <csignal>
#include <future>
#include <map>
#include <optional>
#include <sys/resource.h>

namespace {

using TCellMap = std::map<std::pair<int32_t, int32_t>, std::variant<QString, int32_t, double>>;

TCellMap MapOf(const TCells& cells)
{
    TCellMap m;
    for (const TCell& c : cells)
        m[{c.Row, c.Column}] = c.Value;
    return m;
}

double AsReal(const std::variant<QString, int32_t, double>& v)
{
    if (const int32_t* i = std::get_if<int32_t>(&v))
        return *i;
    return std::get<double>(v);
}

QString Describe(const std::variant<QString, int32_t, double>& v)
{
    if (const QString* s = std::get_if<QString>(&v))
        return '"' + *s + '"';
    return QString::number(AsReal(v), 'g', 17);
}

// Same cells at the same places. Numbers compare as reals: exactly, or to the 16 significant
// digits an .xlsx keeps.
void ExpectSameCells(const TCells& actual, const TCells& expected, bool exact)
{
    const TCellMap a = MapOf(actual), e = MapOf(expected);
    EXPECT_EQ(a.size(), e.size());
    for (const auto& [at, value] : e) {
        const auto it = a.find(at);
        const QString where = QString("row %1 column %2").arg(at.first).arg(at.second);
        if (it == a.end()) {
            ADD_FAILURE() << "missing " << where.toStdString();
            continue;
        }
        if (std::holds_alternative<QString>(value) || std::holds_alternative<QString>(it->second)) {
            EXPECT_EQ(Describe(it->second), Describe(value)) << where.toStdString();
        } else if (exact) {
            EXPECT_EQ(AsReal(it->second), AsReal(value)) << where.toStdString();
        } else {
            EXPECT_NEAR(AsReal(it->second), AsReal(value), 1e-15 * std::abs(AsReal(value))) << where.toStdString();
        }
    }
}

QByteArray Contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteContents(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class ExportTest : public ToothFixture {
protected:
    // A study of 2 x 2 bitmaps with the given file names, in one sub-folder of its own.
    std::unique_ptr<TTeeth> Study(const QString& folder, std::initializer_list<const char*> names)
    {
        QDir(Dir.path()).mkpath(folder + "/v");
        for (const char* n : names)
            WriteBitmap(folder + "/v/" + n, 2, 2, {0x00FF00, 0, 0, 0});
        auto study = std::make_unique<TTeeth>(1);
        EXPECT_TRUE(study->LoadFolder(Path(folder)).empty());
        return study;
    }

    // Gives photograph (tooth index, time point) measurements as if it had been calculated.
    static void Measure(TTeeth& study, int32_t tooth, int32_t time, double red, double green)
    {
        TTooth* t = study.GetTooth(tooth, time);
        ASSERT_NE(t, nullptr);
        t->RArea = red;
        t->GArea = green;
        t->numlabels = 1;
    }

    // Teeth 11 (time points 0, 1, 2; 2 never calculated) and 21 (time points 0 and 2).
    std::unique_ptr<TTeeth> TwoTeeth(const QString& folder = "two")
    {
        auto study = Study(folder, {"A11000.bmp", "A11001.bmp", "A11002.bmp", "A21000.bmp", "A21002.bmp"});
        Measure(*study, 0, 0, 1.0 / 3, 20);
        Measure(*study, 0, 1, 5, 15.25);
        Measure(*study, 1, 0, 0.1, 0.2);
        Measure(*study, 1, 2, 7, 0);
        return study;
    }
};

TEST_F(ExportTest, BlockHoldsNamesTimePointsAndMeasurements)
{
    const auto study = TwoTeeth();
    TCells cells;
    EXPECT_EQ(BuildExportBlock(*study, 1, cells), 7);
    const TCellMap m = MapOf(cells);
    using V = std::variant<QString, int32_t, double>;
    auto at = [&](int32_t row, int32_t column) {
        const auto it = m.find({row, column});
        return it == m.end() ? V(QString("<empty>")) : it->second;
    };
    EXPECT_EQ(at(1, 1), V(study->psina));
    EXPECT_EQ(at(2, 1), V(QString("Time")));
    const QStringList measures{"Total Area", "Red Area", "Green Area", "R/G Ratio", "Red %"};
    for (int32_t p = 0; p < 5; ++p) {
        EXPECT_EQ(at(2, 2 + p), V(QString("RmaxI2"))) << p;
        EXPECT_EQ(at(2, 7 + p), V(QString("LmaxI2"))) << p;
        EXPECT_EQ(at(3, 2 + p), V(measures[p])) << p;
        EXPECT_EQ(at(3, 7 + p), V(measures[p])) << p;
        EXPECT_EQ(at(5, 7 + p), V(QString("<empty>"))) << "tooth 21 has no time point 1";
    }
    for (int32_t u = 0; u < 3; ++u)
        EXPECT_EQ(at(4 + u, 1), V(u));
    const struct {
        int32_t row, firstColumn;
        std::array<double, 5> values;
    } rows[] = {
        {4, 2, {20 + 1.0 / 3, 1.0 / 3, 20, 1.0 / 3 / 20, 100 * (1.0 / 3) / (20 + 1.0 / 3)}},
        {5, 2, {20.25, 5, 15.25, 5 / 15.25, 100 * 5 / 20.25}},
        {6, 2, {0, 0, 0, 100, 0}}, // never calculated: the measurements of empty areas
        {4, 7, {0.1 + 0.2, 0.1, 0.2, 0.1 / 0.2, 100 * 0.1 / (0.1 + 0.2)}},
        {6, 7, {7, 7, 0, 100, 100}},
    };
    for (const auto& r : rows)
        for (int32_t p = 0; p < 5; ++p)
            EXPECT_EQ(at(r.row, r.firstColumn + p), V(r.values[size_t(p)])) << r.row << " " << p;
    EXPECT_EQ(cells.size(), 1 + 1 + 10 + 10 + 3 + 5 * 5u) << "no other cell";
}

TEST_F(ExportTest, EmptyTeethNamesLeaveTheirCellsEmptyAndEmptyStudyAddsNothing)
{
    const auto study = Study("odd", {"A99000.bmp"});
    TCells cells;
    EXPECT_EQ(BuildExportBlock(*study, 5, cells), 9);
    EXPECT_FALSE(MapOf(cells).count({6, 2}));
    EXPECT_EQ(std::get<QString>(MapOf(cells)[{7, 2}]), "Total Area");

    TTeeth empty(1);
    TCells none;
    EXPECT_EQ(BuildExportBlock(empty, 5, none), 5);
    EXPECT_TRUE(none.empty());
    EXPECT_THROW(ExportStudy(empty, Path("empty.csv")), TOrvixError);
    EXPECT_FALSE(QFile::exists(Path("empty.csv")));
    EXPECT_THROW(ExportStudy(*study, Path("study.ods")), TOrvixError);
    EXPECT_FALSE(QFile::exists(Path("study.ods")));
}

TEST_F(ExportTest, CsvQuotesTextKeepsNumbersBareAndReadsBackExactly)
{
    auto study = Study("csv", {"A11000.bmp"});
    study->psina = "Study \"A\", 2";
    Measure(*study, 0, 0, 1e-300, 0.1 + 0.2);
    ASSERT_EQ(ExportStudy(*study, Path("a.csv")), 1);
    const QList<QByteArray> lines = Contents(Path("a.csv")).split('\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0].toStdString(), "\"Study \"\"A\"\", 2\",,,,,\r");
    EXPECT_EQ(lines[1].toStdString(), "\"Time\",\"RmaxI2\",\"RmaxI2\",\"RmaxI2\",\"RmaxI2\",\"RmaxI2\"\r");
    EXPECT_EQ(lines[3].toStdString(), "0,0.30000000000000004,1e-300,0.30000000000000004,3.333333333333333e-300,3.3333333333333333e-298\r");

    TCells expected;
    BuildExportBlock(*study, 1, expected);
    ExpectSameCells(ReadExportFile(Path("a.csv"), TExportFormat::Csv), expected, true);
}

// A cell in column 1 of the measurement names' row gave the index -1 into the names.
TEST_F(ExportTest, MeasurementNameInColumnOneIsRefusedNotReadOutOfBounds)
{
    const QByteArray csv = "\"s\"\r\n\"Time\",\"t\",\"t\",\"t\",\"t\",\"t\"\r\n"
                           "\"x\",,\"Red Area\",\"Green Area\",\"R/G Ratio\",\"Red %\"\r\n0\r\n";
    WriteContents(Path("four.csv"), csv);
    try {
        CheckExportFile(Path("four.csv"));
        FAIL() << "accepted";
    } catch (const TOrvixError& e) {
        EXPECT_NE(std::string(e.what()).find("column 1"), std::string::npos) << e.what();
    }
}

TEST_F(ExportTest, ParameterRowsSayHowEachPhotographWasMeasured)
{
    const auto study = TwoTeeth();
    struct TSetting {
        int32_t tooth, time;
        int32_t spNumber;
        double compactness, bg, rg;
        bool mask, disableMask, aligned;
        TTransPars pars;
    };
    TTransPars turned, handSet;
    turned.Init(2.5, 1.5, -0.75, 1.01, 0.99, 1.1);
    handSet.Init(-1, 3, 0, 1, 1, 1);
    const TSetting settings[] = {
        {0, 0, 400, 20, 0.5, 0, true, false, true, TTransPars::Identity()},
        {0, 1, 250, 12.5, 0.25, -0.125, true, true, true, turned}, // the mask set, but disabled
        {0, 2, 999, 1, 1, 1, false, false, false, TTransPars::Identity()}, // never calculated
        {1, 0, 400, 20, 0.5, 0, false, false, false, TTransPars::Identity()},
        {1, 2, 100, 30, 0.75, 0.5, false, false, false, handSet}, // moved by hand, not aligned
    };
    std::vector<TPixelLease> leases; // as an editor holds what it changes
    for (const TSetting& s : settings) {
        TTooth* t = study->GetTooth(s.tooth, s.time);
        leases.push_back(t->Lease());
        t->SPnumber = s.spNumber;
        t->Compactness = s.compactness;
        t->BGThreshold = s.bg;
        t->RGThreshold = s.rg;
        t->Mask = s.mask ? TIntVector(4, 1) : TIntVector();
        t->DisableMask = s.disableMask;
        t->NelmDone = s.aligned;
        t->TransPars = s.pars;
    }

    using V = std::optional<std::variant<QString, int32_t, double>>;
    const V none;
    TCells expected;
    auto row = [&](int32_t r, std::initializer_list<V> values) {
        int32_t column = 1;
        for (const V& v : values) {
            if (v)
                expected.push_back({r, column, *v});
            ++column;
        }
    };
    auto text = [](const char* s) { return V(QString(s)); };
    for (int32_t c = 0; c < 19; ++c)
        expected.push_back({1, c + 1, QString(ParameterNames[size_t(c)])});
    row(2, {text("two"), 7, text("v/A11000.bmp"), 11, text("RmaxI2"), 0, 400, 20.0, 0.5, 0.0, text("yes"),
            text("reference"), 0.0, 0.0, 0.0, 1.0, 1.0, 1.0, none});
    // Its image is its reference's: a perfect match.
    row(3, {text("two"), 7, text("v/A11001.bmp"), 11, text("RmaxI2"), 1, 250, 12.5, 0.25, -0.125, text("no"),
            text("yes"), 2.5, 1.5, -0.75, 1.01, 0.99, 1.1, 1.0});
    row(4, {text("two"), 7, text("v/A11002.bmp"), 11, text("RmaxI2"), 2, none, none, none, none, none, text("no"),
            0.0, 0.0, 0.0, 1.0, 1.0, 1.0, none});
    row(5, {text("two"), 7, text("v/A21000.bmp"), 21, text("LmaxI2"), 0, 400, 20.0, 0.5, 0.0, text("no"),
            text("reference"), 0.0, 0.0, 0.0, 1.0, 1.0, 1.0, none});
    row(6, {text("two"), 7, text("v/A21002.bmp"), 21, text("LmaxI2"), 2, 100, 30.0, 0.75, 0.5, text("no"),
            text("no"), -1.0, 3.0, 0.0, 1.0, 1.0, 1.0, none});
    TCells cells;
    EXPECT_EQ(BuildParameterRows(*study, 7, 1, cells), 7);
    ExpectSameCells(cells, expected, false);
    EXPECT_EQ(ParameterSheetEnd(cells), 7);

    // Below earlier rows: no second header, the same rows moved down.
    TCells appended;
    EXPECT_EQ(BuildParameterRows(*study, 7, 10, appended), 15);
    TCells moved;
    for (const TCell& c : expected)
        if (c.Row > 1)
            moved.push_back({c.Row + 8, c.Column, c.Value});
    ExpectSameCells(appended, moved, false);

    // A study opened by a relative path names its photographs the same way.
    TTeeth relative(1);
    ASSERT_TRUE(relative.LoadFolder(QDir::current().relativeFilePath(Path("two"))).empty());
    TCells fromRelative;
    BuildParameterRows(relative, 1, 2, fromRelative);
    EXPECT_EQ(std::get<QString>(MapOf(fromRelative).at({2, 3})), "v/A11000.bmp");
}

class ExportFileTest : public ExportTest, public testing::WithParamInterface<TExportFormat> {
protected:
    QString File(const QString& base) const
    {
        return Path(base + (GetParam() == TExportFormat::Csv ? ".csv" : ".xlsx"));
    }

    // The cells as an independent reader sees them: openpyxl for a workbook. The CSV reader is our
    // own, checked against the exact text above.
    TCells ReadBack(const QString& file)
    {
        if (GetParam() == TExportFormat::Csv)
            return ReadExportFile(file, TExportFormat::Csv);
        TOpenpyxlBook book;
        QString error;
        EXPECT_TRUE(ReadWithOpenpyxl(file, book, error)) << error.toStdString();
        EXPECT_EQ(book.SheetNames, QStringList({"Orvix", "Parameters"}));
        EXPECT_TRUE(book.Generator);
        return book.Cells;
    }

    bool Exact() const { return GetParam() == TExportFormat::Csv; }
};

TEST_P(ExportFileTest, LaterExportsGoBelowTheEarlierOnes)
{
    const auto two = TwoTeeth();
    auto three = Study("three", {"A12000.bmp", "A22000.bmp", "A32001.bmp"});
    Measure(*three, 2, 1, 2.5, 3.5);
    const QString file = File("study");
    EXPECT_EQ(ExportStudy(*two, file), 1);
    EXPECT_EQ(ExportStudy(*three, file), 7);
    EXPECT_EQ(ExportStudy(*two, file), 12);
    TCells expected;
    BuildExportBlock(*two, BuildExportBlock(*three, BuildExportBlock(*two, 1, expected), expected), expected);
    ExpectSameCells(ReadBack(file), expected, Exact());
}

TEST_P(ExportFileTest, TimePointsNotStartingAtZeroStayInsideTheirBlock)
{
    auto study = Study("late", {"A11001.bmp", "A11003.bmp"});
    Measure(*study, 0, 3, 4, 6);
    ASSERT_EQ(study->MaxTimeCount(), 3);
    const QString file = File("late");
    EXPECT_EQ(ExportStudy(*study, file), 1);
    EXPECT_EQ(ExportStudy(*study, file), 8) << "rows for time points 0 to 3 after the three header rows";
    const TCellMap m = MapOf(ReadBack(file));
    EXPECT_EQ(AsReal(m.at({7, 1})), 3);
    EXPECT_EQ(AsReal(m.at({7, 3})), 4) << "time point 3's red area in its own row";
    EXPECT_FALSE(m.count({4, 2})) << "no photograph at time point 0";
    EXPECT_EQ(std::get<QString>(m.at({8, 1})), study->psina) << "the second block is untouched";
    EXPECT_EQ(AsReal(m.at({14, 3})), 4);
}

TEST_P(ExportFileTest, ForeignFilesAreRefusedAndLeftAlone)
{
    const auto study = TwoTeeth();
    // Damaged exports of our own: a block cut short, and a cell changed from a number to text.
    ExportStudy(*study, File("ours"));
    const QByteArray ours = Contents(File("ours"));
    QByteArray edited = ours;
    if (GetParam() == TExportFormat::Csv)
        edited.replace("\r\n0,", "\r\n\"0\",");
    else
        edited.chop(100);
    QProcess python;
    python.start("/usr/bin/python3", {"-c", "import openpyxl; openpyxl.Workbook().save('" + File("openpyxl") + "')"});
    ASSERT_TRUE(python.waitForFinished(60000) && python.exitCode() == 0);
    const QList<QByteArray> foreign = {
        QByteArray(), "not a spreadsheet", "\"a\",\"b\"\r\n1,2\r\n", edited, Contents(File("openpyxl"))};
    for (qsizetype i = 0; i < foreign.size(); ++i) {
        const QString file = File(QString("foreign%1").arg(i));
        WriteContents(file, foreign[i]);
        EXPECT_THROW(ExportStudy(*study, file), TOrvixError) << i;
        EXPECT_EQ(Contents(file), foreign[i]) << i;
    }
}

// Appending on a full file system left a 0-byte file (every earlier block lost) and reported
// success; a new export likewise.
TEST_P(ExportFileTest, FullDiskLeavesTheOldExportUntouchedAndFails)
{
    const auto study = TwoTeeth();
    const QString file = File("full");
    ExportStudy(*study, file);
    const QByteArray before = Contents(file);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    for (const rlim_t limit : {rlim_t(0), rlim_t(before.size() / 2)}) {
        rlimit small = old;
        small.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString appended, created;
        try {
            ExportStudy(*study, file);
        } catch (const TOrvixError& e) {
            appended = e.what();
        }
        try {
            ExportStudy(*study, File("new"));
        } catch (const TOrvixError& e) {
            created = e.what();
        }
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_TRUE(appended.contains(file)) << limit << ": " << appended.toStdString();
        EXPECT_TRUE(created.contains(File("new"))) << limit << ": " << created.toStdString();
        EXPECT_EQ(Contents(file), before) << limit;
        EXPECT_FALSE(QFile::exists(File("new"))) << limit;
    }
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList(QFileInfo(file).fileName()))
        << "no temporary or lock file left behind";
}

// Two processes exporting to one file both read the old file and printed the same starting row;
// one block vanished.
TEST_P(ExportFileTest, SecondExportWaitsForTheFirst)
{
    const auto study = TwoTeeth();
    const QString file = File("shared");
    ExportStudy(*study, file);
    QLockFile held(file + ".lock");
    ASSERT_TRUE(held.tryLock(0));
    try {
        ExportStudy(*study, file, 200);
        ADD_FAILURE() << "exported while another export held the file";
    } catch (const TOrvixError& e) {
        EXPECT_TRUE(QString(e.what()).contains("another export")) << e.what();
    }
    auto waiting = std::async(std::launch::async, [&] { return ExportStudy(*study, file); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    held.unlock();
    EXPECT_EQ(waiting.get(), 7);

    auto a = std::async(std::launch::async, [&] { return ExportStudy(*study, file); });
    auto b = std::async(std::launch::async, [&] { return ExportStudy(*study, file); });
    const int32_t rows[] = {a.get(), b.get()};
    EXPECT_EQ(std::min(rows[0], rows[1]), 13);
    EXPECT_EQ(std::max(rows[0], rows[1]), 19);
    TCells expected;
    int32_t next = 1;
    for (int i = 0; i < 4; ++i)
        next = BuildExportBlock(*study, next, expected);
    ExpectSameCells(ReadBack(file), expected, Exact());
}

TEST_P(ExportFileTest, TargetIsCheckedBeforeTheRun)
{
    const auto study = TwoTeeth();
    const QString protectedFile = File("protected");
    ExportStudy(*study, protectedFile);
    ASSERT_TRUE(QFile::setPermissions(protectedFile, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const struct {
        QString file;
        const char* reason;
    } cases[] = {
        {Path("missing/x.csv"), "does not exist"},
        {protectedFile, "write-protected"},
    };
    for (const auto& c : cases) {
        try {
            CheckExportFile(c.file);
            ADD_FAILURE() << c.file.toStdString();
        } catch (const TOrvixError& e) {
            EXPECT_TRUE(QString(e.what()).contains(c.reason)) << e.what();
        }
        EXPECT_THROW(ExportStudy(*study, c.file), TOrvixError);
    }
    EXPECT_EQ(CheckExportFile(File("fresh")), 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportFileTest, testing::Values(TExportFormat::Csv, TExportFormat::Xlsx),
                         [](const auto& info) { return info.param == TExportFormat::Csv ? "Csv" : "Xlsx"; });

// Each export's photographs go below the earlier ones in "Parameters", and a workbook written
// before that sheet existed gets it.
TEST_F(ExportTest, WorkbookParametersGrowWithEachExportAndReachOlderWorkbooks)
{
    const auto two = TwoTeeth();
    auto three = Study("three", {"A12000.bmp", "A22000.bmp", "A32001.bmp"});
    Measure(*three, 2, 1, 2.5, 3.5);
    const QString file = Path("older.xlsx");
    TExportBook expected;
    BuildExportBlock(*three, 1, expected.Blocks);
    WriteExportFile(file, TExportFormat::Xlsx, expected.Blocks);
    TOpenpyxlBook book;
    QString error;
    ASSERT_TRUE(ReadWithOpenpyxl(file, book, error)) << error.toStdString();
    ASSERT_EQ(book.SheetNames, QStringList{"Orvix"}) << "the blocks alone, as older exports were";

    EXPECT_EQ(ExportStudy(*two, file), 6);
    EXPECT_EQ(ExportStudy(*three, file), 12);
    BuildExportBlock(*three, BuildExportBlock(*two, 6, expected.Blocks), expected.Blocks);
    BuildParameterRows(*three, 12, BuildParameterRows(*two, 6, 1, expected.Parameters), expected.Parameters);
    ASSERT_TRUE(ReadWithOpenpyxl(file, book, error)) << error.toStdString();
    EXPECT_EQ(book.SheetNames, QStringList({"Orvix", "Parameters"}));
    ExpectSameCells(book.Cells, expected.Blocks, false);
    ASSERT_TRUE(ReadWithOpenpyxl(file, book, error, "Parameters")) << error.toStdString();
    ExpectSameCells(book.Cells, expected.Parameters, false);
    const TCellMap m = MapOf(book.Cells);
    EXPECT_EQ(std::get<QString>(m.at({7, 3})), "v/A12000.bmp") << "the second export's first row";
    EXPECT_EQ(m.count({10, 1}), 0u) << "nothing below it";
}

// Rewriting a workbook holds only the blocks and "Parameters": one with any other sheet, or with
// those sheets in another shape, would lose what the researcher added.
TEST_F(ExportTest, WorkbookEditedElsewhereIsAppendedToOnlyInOurShape)
{
    const auto study = TwoTeeth();
    const QString ours = Path("ours.xlsx");
    ExportStudy(*study, ours);
    // openpyxl drops custom document properties on saving: our marker goes back in, so that only
    // the edit tells the result from ours.
    const char* script = R"(
import sys, zipfile, openpyxl
src, dst, edit = sys.argv[1:4]
wb = openpyxl.load_workbook(src)
exec(edit)
wb.save(dst)
with zipfile.ZipFile(dst, 'a') as z:
    z.writestr('docProps/custom.xml', zipfile.ZipFile(src).read('docProps/custom.xml'))
)";
    const struct {
        const char* edit;
        bool accepted;
    } cases[] = {
        {"pass", true}, // saved by another program, otherwise unchanged
        {"wb.create_sheet('Notes')", false},
        {"wb.move_sheet('Parameters', offset=-1)", false},
        {"wb['Parameters']['B1'] = 'Block'", false},
        {"wb['Parameters'].cell(row=3, column=20, value='my note')", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const QString file = Path(QString("edited%1.xlsx").arg(i));
        QProcess python;
        python.start("/usr/bin/python3", {"-c", script, ours, file, cases[i].edit});
        ASSERT_TRUE(python.waitForFinished(60000) && python.exitCode() == 0)
            << python.readAllStandardError().toStdString();
        const QByteArray before = Contents(file);
        if (cases[i].accepted) {
            EXPECT_EQ(ExportStudy(*study, file), 7) << cases[i].edit;
            EXPECT_EQ(ParameterSheetEnd(ReadExportBook(file, TExportFormat::Xlsx).Parameters), 12) << cases[i].edit;
        } else {
            EXPECT_THROW(ExportStudy(*study, file), TOrvixError) << cases[i].edit;
            EXPECT_EQ(Contents(file), before) << cases[i].edit;
        }
    }
}
