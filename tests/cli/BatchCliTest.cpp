// orvix-batch as a user runs it: the built executable, with APPDATA pointing at a temporary
// folder so that the user's own settings are never read or written.
#include "OpenpyxlReader.h"
#include "QtPrinters.h"
#include "TTooth.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cmath>
#include <map>

namespace {

struct TRun {
    int Exit = -1; // -1: crashed or timed out
    QByteArray Out;
    QString Err;
};

std::vector<QJsonObject> JsonLines(const QByteArray& out)
{
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty()) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            lines.push_back(doc.object());
        }
    return lines;
}

// truth.csv: relative file name -> (red, green) in percent of the image.
std::map<QString, std::pair<double, double>> ReadTruth(const QString& study)
{
    std::map<QString, std::pair<double, double>> truth;
    QFile f(QDir(study).filePath("truth.csv"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].trimmed().split(',');
        if (fields.size() >= 5)
            truth[QString::fromUtf8(fields[0])] = {fields[3].toDouble(), fields[4].toDouble()};
    }
    return truth;
}

QStringList ResultFiles(const QString& study)
{
    QStringList files;
    QDirIterator it(study, {"*.sp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

QByteArray Contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class BatchCliTest : public testing::Test {
protected:
    QTemporaryDir Dir;

    QString Path(const QString& name) const { return Dir.filePath(name); }
    QString Settings() const { return Path("appdata/orvix/orvix.ini"); }

    void Start(QProcess& p, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("APPDATA", Path("appdata"));
        env.insert("XDG_CACHE_HOME", Path("cache"));
        p.setProcessEnvironment(env);
        p.start(ORVIX_BATCH, args);
        ASSERT_TRUE(p.waitForStarted());
    }

    static TRun Collect(QProcess& p)
    {
        TRun r;
        if (p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit)
            r.Exit = p.exitCode();
        r.Out = p.readAllStandardOutput();
        r.Err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    TRun Run(const QStringList& args)
    {
        QProcess p;
        Start(p, args);
        return Collect(p);
    }

    QString Demo(const QString& name, const QStringList& options = {})
    {
        QProcess p;
        p.start(MAKE_DEMO_STUDY, options + QStringList{Path(name)});
        EXPECT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        return Path(name);
    }

    // One tooth at two time points, small and quick.
    QString SmallDemo(const QString& name) { return Demo(name, {"--teeth", "1", "--times", "2", "--width", "160", "--height", "120"}); }
};

TEST_F(BatchCliTest, BadUsageMissingFolderEmptyStudyAndForeignExportExitWithTwo)
{
    const QString small = SmallDemo("small");
    QDir(Dir.path()).mkpath("empty/visit1");
    QFile foreign(Path("notes.csv"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write("\"my\",\"notes\"\r\n");
    foreign.close();
    const struct {
        QStringList args;
        int exit;
        const char* message;
    } cases[] = {
        {{}, 2, "no study folder"},
        {{"--bogus", small}, 2, "bogus"},
        {{"--sp", "-3", small}, 2, "--sp"},
        {{Path("missing")}, 2, "no such folder"},
        {{Path("empty")}, 2, "holds no photographs"},
        {{"--export", Path("notes.csv"), small}, 2, "not an export"},
        {{"--export", Path("out.txt"), small}, 2, "--export"},
        {{"--bg", "1.5", small}, 2, "--bg wants a number from 0 to 1"},
        {{"--export", Path("missing/out.csv"), small}, 2, "does not exist"}, // checked before the run
    };
    for (const auto& c : cases) {
        const TRun r = Run(c.args);
        EXPECT_EQ(r.Exit, c.exit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.Err.contains(c.message)) << r.Err.toStdString();
        EXPECT_TRUE(r.Out.isEmpty());
    }
    EXPECT_TRUE(ResultFiles(small).isEmpty()) << "nothing was calculated";
    EXPECT_EQ(Contents(Path("notes.csv")), "\"my\",\"notes\"\r\n");
    EXPECT_FALSE(QFile::exists(Path("out.txt")));

    const TRun help = Run({"--help"});
    EXPECT_EQ(help.Exit, 0);
    EXPECT_TRUE(help.Out.startsWith("Usage: orvix-batch"));
    for (const char* topic : {"--refit", "not fitted again", "visit1/P11000.bmp is", "~/.config/orvix/orvix.ini",
                              "written only to .xlsx"})
        EXPECT_TRUE(help.Out.contains(topic)) << topic;
}

// Unreadable photographs were missing from --json and from the count of failures.
TEST_F(BatchCliTest, UnreadablePhotographsAreInTheJsonAndCountAsFailed)
{
    const QString small = SmallDemo("small");
    // A later photograph that is black in the middle cannot be aligned; a junk file cannot be read.
    QImage black(160, 120, QImage::Format_RGB32);
    black.fill(Qt::black);
    ASSERT_TRUE(black.save(QDir(small).filePath("visit2/P11005.bmp"), "BMP"));
    QFile junk(QDir(small).filePath("visit2/P21000.bmp"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("junk");
    junk.close();

    const TRun r = Run({"--align", "--json", small});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("cannot read " + junk.fileName())) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("failed: " + QDir(small).filePath("visit2/P11005.bmp"))) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("3 of 3 photographs processed")) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("; 2 failed")) << r.Err.toStdString();
    const std::vector<QJsonObject> lines = JsonLines(r.Out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[0]["error"].isNull());
    EXPECT_TRUE(lines[1]["error"].isNull());
    EXPECT_TRUE(lines[2]["error"].isString());
    EXPECT_FALSE(lines[2]["aligned"].toBool());
    const QJsonObject& unreadable = lines[3];
    EXPECT_EQ(unreadable["file"].toString(), junk.fileName());
    EXPECT_EQ(unreadable["tooth"].toInt(), 21);
    EXPECT_EQ(unreadable["time"].toInt(), 0);
    EXPECT_TRUE(unreadable["error"].toString().contains("not a readable bitmap"))
        << unreadable["error"].toString().toStdString();
    for (const char* key : {"total_area", "red_area", "green_area", "rg_ratio", "red_percent"})
        EXPECT_TRUE(unreadable[key].isNull()) << key;
    EXPECT_EQ(QStringList(unreadable.keys()), QStringList(lines[0].keys()));
}

// On a full disk no result file was saved, yet the batch said "0 failed" and exited 0.
TEST_F(BatchCliTest, FailedSaveIsAFailureOfThePhotograph)
{
    const QString small = SmallDemo("small");
    // A file-size limit of 512 bytes stands for a full disk; SIGXFSZ ignored, as it stays across exec.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("APPDATA", Path("appdata"));
    p.setProcessEnvironment(env);
    p.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", ORVIX_BATCH, "--json", small});
    ASSERT_TRUE(p.waitForStarted());
    const TRun r = Collect(p);
    EXPECT_EQ(r.Exit, 1) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("failed: " + QDir(small).filePath("visit1/P11000.bmp") + ": cannot save the results to"))
        << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("; 2 failed")) << r.Err.toStdString();
    for (const QJsonObject& o : JsonLines(r.Out))
        EXPECT_TRUE(o["error"].toString().contains("cannot save")) << o["file"].toString().toStdString();
    EXPECT_TRUE(ResultFiles(small).isEmpty());
}

// The demo study after "Align NEW": the report, the truth of the demo, the export and its second
// block below the first, in one run of the expensive part.
TEST_F(BatchCliTest, AlignNewOnTheDemoStudy)
{
    const QString demo = Demo("demo");
    const QString book = Path("demo.xlsx");
    const TRun first = Run({"--align", "--json", "--export", book, demo});
    ASSERT_EQ(first.Exit, 0) << first.Err.toStdString();
    EXPECT_TRUE(first.Err.contains("12 of 12 photographs processed")) << first.Err.toStdString();

    const std::vector<QJsonObject> lines = JsonLines(first.Out);
    ASSERT_EQ(lines.size(), 12u);
    const QStringList keys{"file", "tooth", "name", "time", "total_area", "red_area", "green_area", "rg_ratio",
                           "red_percent", "numlabels", "aligned", "transform", "align_quality", "error"};
    const QStringList transformKeys{"angle", "shiftx", "shifty", "scalex", "scaley", "coeff"};
    const auto truth = ReadTruth(demo);
    double largest = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QJsonObject& o = lines[i];
        EXPECT_EQ(QStringList(o.keys()).size(), keys.size());
        for (const QString& k : keys)
            EXPECT_TRUE(o.contains(k)) << k.toStdString();
        for (const QString& k : transformKeys)
            EXPECT_TRUE(o["transform"].toObject()[k].isDouble()) << k.toStdString();
        const int time = o["time"].toInt();
        EXPECT_EQ(time, int(i % 3)) << "study order: teeth, then time points";
        const int teeth[] = {11, 21, 31, 41};
        EXPECT_EQ(o["tooth"].toInt(), teeth[i / 3]);
        EXPECT_EQ(o["name"].toString(), QStringList({"RmaxI2", "LmaxI2", "LmanI2", "RmanI2"})[int(i / 3)]);
        EXPECT_TRUE(o["aligned"].toBool());
        EXPECT_GT(o["numlabels"].toInt(), 0);
        EXPECT_TRUE(o["error"].isNull());
        EXPECT_EQ(o["align_quality"].isNull(), time == 0) << "a number for every fitted photograph";

        const QString file = QDir(demo).relativeFilePath(o["file"].toString());
        ASSERT_TRUE(truth.count(file)) << file.toStdString();
        const auto [red, green] = truth.at(file);
        EXPECT_NEAR(o["red_area"].toDouble(), red, 1.0) << file.toStdString();
        EXPECT_NEAR(o["green_area"].toDouble(), green, 1.0) << file.toStdString();
        largest = std::max({largest, std::abs(o["red_area"].toDouble() - red),
                            std::abs(o["green_area"].toDouble() - green)});
    }
    RecordProperty("LargestTruthError", QString::number(largest, 'f', 3).toStdString());
    std::printf("largest error against truth.csv: %.3f percentage points\n", largest);

    // Nothing new: no run, the same results read back from the result files, a second block.
    const TRun second = Run({"--align", "--json", "--export", book, demo});
    ASSERT_EQ(second.Exit, 0) << second.Err.toStdString();
    EXPECT_TRUE(second.Err.contains("nothing to do"));
    EXPECT_EQ(second.Out, first.Out);

    TOpenpyxlBook sheet;
    QString error;
    ASSERT_TRUE(ReadWithOpenpyxl(book, sheet, error)) << error.toStdString();
    std::map<std::pair<int, int>, std::variant<QString, int32_t, double>> cells;
    for (const TCell& c : sheet.Cells)
        cells[{c.Row, c.Column}] = c.Value;
    for (const int start : {1, 7}) {
        EXPECT_EQ(std::get<QString>(cells[{start, 1}]), "demo");
        for (size_t i = 0; i < lines.size(); ++i) {
            const int row = start + 3 + int(i % 3), column = 2 + 5 * int(i / 3);
            EXPECT_EQ(std::get<QString>(cells[{start + 1, column}]), lines[i]["name"].toString());
            EXPECT_NEAR(std::get<double>(cells[{row, column + 1}]), lines[i]["red_area"].toDouble(), 1e-13);
            EXPECT_NEAR(std::get<double>(cells[{row, column + 4}]), lines[i]["red_percent"].toDouble(), 1e-12);
        }
    }
    EXPECT_EQ(cells.rbegin()->first.first, 12) << "two blocks of 3 header rows and 3 time points";

    // Each export's photographs in "Parameters", as --json describes them, with the defaults they
    // were calculated with.
    TOpenpyxlBook parameters;
    ASSERT_TRUE(ReadWithOpenpyxl(book, parameters, error, "Parameters")) << error.toStdString();
    std::map<std::pair<int, int>, std::variant<QString, int32_t, double>> p;
    for (const TCell& c : parameters.Cells)
        p[{c.Row, c.Column}] = c.Value;
    auto real = [&](int row, int column) {
        const auto it = p.find({row, column});
        return it == p.end() ? std::nan("") : std::get<double>(it->second);
    };
    EXPECT_EQ(p.rbegin()->first.first, 25) << "the header and 12 photographs per export";
    for (const int start : {1, 7})
        for (size_t i = 0; i < lines.size(); ++i) {
            const QJsonObject& o = lines[i];
            const int row = 2 + int(i) + (start == 1 ? 0 : 12);
            EXPECT_EQ(real(row, 2), start);
            EXPECT_EQ(std::get<QString>(p[{row, 3}]), QDir(demo).relativeFilePath(o["file"].toString()));
            EXPECT_EQ(real(row, 4), o["tooth"].toInt());
            EXPECT_EQ(real(row, 6), o["time"].toInt());
            EXPECT_EQ((std::vector<double>{real(row, 7), real(row, 8), real(row, 9), real(row, 10)}),
                      (std::vector<double>{400, 20, 0.5, 0}));
            EXPECT_EQ(std::get<QString>(p[{row, 12}]), o["time"].toInt() == 0 ? "reference" : "yes");
            for (int k = 0; k < 6; ++k) {
                const double expected = o["transform"].toObject()[transformKeys[k]].toDouble();
                EXPECT_NEAR(real(row, 13 + k), expected, 1e-14 * std::max(1.0, std::abs(expected))) << row;
            }
            if (o["align_quality"].isNull())
                EXPECT_FALSE(p.count({row, 19})) << row;
            else
                EXPECT_NEAR(real(row, 19), o["align_quality"].toDouble(), 1e-14) << row;
        }
}

TEST_F(BatchCliTest, InterruptFinishesThePhotographsInProgressAndLeavesTheRestForLater)
{
    const QString demo = Demo("demo");
    QProcess p;
    Start(p, {"--threads", "1", demo});
    // Interrupt as soon as the first result file is there: most photographs are still to come.
    for (int i = 0; i < 60000 && ResultFiles(demo).isEmpty() && p.state() == QProcess::Running; ++i)
        QThread::msleep(5);
    ASSERT_EQ(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGINT);
    const TRun stopped = Collect(p);
    EXPECT_EQ(stopped.Exit, 130) << stopped.Err.toStdString();
    EXPECT_TRUE(stopped.Err.contains("stopped: ")) << stopped.Err.toStdString();
    const qsizetype done = ResultFiles(demo).size();
    EXPECT_LT(done, 12);

    // Every result file written is complete: "Calculate NEW" takes exactly the others.
    const TRun rest = Run({"--json", demo});
    ASSERT_EQ(rest.Exit, 0) << rest.Err.toStdString();
    EXPECT_TRUE(rest.Err.contains(QString("%1 of %1 photographs processed").arg(12 - done))) << rest.Err.toStdString();
    for (const QJsonObject& o : JsonLines(rest.Out))
        EXPECT_GT(o["numlabels"].toInt(), 0);
}

TEST_F(BatchCliTest, ParametersOfARunLeaveTheSettingsFileAlone)
{
    const QString study = SmallDemo("small");
    ASSERT_TRUE(QDir().mkpath(Path("appdata/orvix")));
    QFile ini(Settings());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Main]\nDefaultSPNumber=60\nDefaultCompactness=15\nDefaultBGThreshold=0.45\nDefaultRGThreshold=0.05\n");
    ini.close();
    const QByteArray settings = Contents(Settings());
    const QString photo = QDir(study).filePath("visit1/P11000.bmp");
    auto parameters = [&] {
        TTooth t(photo, 11); // loads the result file the run wrote
        return std::tuple(t.SPnumber, t.Compactness, t.BGThreshold, t.RGThreshold);
    };

    TRun r = Run({"--sp", "50", "--compactness", "10", "--bg", "0.4", "--rg", "0.1", "--species", "cat", "--json", study});
    ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(parameters(), std::tuple(50, 10.0, 0.4, 0.1));
    EXPECT_TRUE(QFile::exists(QDir(study).filePath("feline")));
    EXPECT_EQ(JsonLines(r.Out).front()["name"].toString(), "RmaxI1") << "named as a cat's tooth";

    r = Run({"--all", "--species", "dog", "--quiet", study});
    ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.isEmpty()) << r.Err.toStdString();
    EXPECT_EQ(parameters(), std::tuple(60, 15.0, 0.45, 0.05)) << "the settings file's defaults";
    EXPECT_FALSE(QFile::exists(QDir(study).filePath("feline")));
    EXPECT_EQ(Contents(Settings()), settings);
}

// A settings file with out-of-range or comma-decimal values, backup copies of a photograph, and
// "." as the study folder.
TEST_F(BatchCliTest, SettingsProblemsBackupCopiesAndTheRealStudyName)
{
    const QString study = SmallDemo("small");
    ASSERT_TRUE(QDir().mkpath(Path("appdata/orvix")));
    QFile ini(Settings());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Main]\nDefaultSPNumber=0\nDefaultBGThreshold=0,45\n");
    ini.close();
    const QString photo = QDir(study).filePath("visit1/P11000.bmp");
    ASSERT_TRUE(QFile::copy(photo, QDir(study).filePath("visit1/P11000_old.bmp")));

    QProcess p;
    p.setWorkingDirectory(study);
    Start(p, {"--export", Path("out.csv"), "."});
    const TRun r = Collect(p);
    ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("DefaultSPNumber=0 is out of range (from 1 to 100000); 400 is used instead"))
        << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains("tooth 11 at time point 0 has 2 photographs: ./visit1/P11000.bmp, "
                               "./visit1/P11000_old.bmp; ./visit1/P11000.bmp is used"))
        << r.Err.toStdString();
    const TTooth t(photo, 11);
    EXPECT_EQ(t.SPnumber, 400);
    EXPECT_EQ(t.BGThreshold, 0.45);
    EXPECT_TRUE(Contents(Path("out.csv")).startsWith("\"small\"")) << "the folder's name, not \".\"";
}
