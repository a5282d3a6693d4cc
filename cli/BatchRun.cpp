#include "BatchRun.h"

#include "DefaultIniFile.h"
#include "Export.h"
#include "Nomenclature.h"
#include "TTeeth.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// Set by the signal handler, polled by a timer: a handler may do no more than this.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int)
{
    gStopRequested = true;
}

// SA_RESETHAND: a second Ctrl-C ends the program at once. Result files are replaced only once
// complete, so even that leaves none half-written.
void InstallStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void Say(const QString& line)
{
    std::fputs(qPrintable("orvix-batch: " + line + '\n'), stderr);
}

// Shortest text that reads back as the same double; null for what JSON cannot hold.
QByteArray JsonReal(double v)
{
    if (!std::isfinite(v))
        return "null";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QByteArray(buf, res.ptr - buf);
}

QByteArray JsonString(const QString& s)
{
    QByteArray out = "\"";
    for (const char c : s.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\' + QByteArray(1, c);
        else if (uint8_t(c) < 0x20)
            out += QByteArray("\\u00") + QByteArray::number(uint8_t(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

struct TRunOutcome {
    bool Started = false;
    bool Stopped = false;
    int32_t Done = 0;
    int32_t Total = 0;
    double Seconds = 0;
};

// "[#####.....] 5/12  1.4 photographs/s  0:05 left", redrawn in place on a terminal.
class TProgressBar {
public:
    explicit TProgressBar(bool Enabled) : fEnabled(Enabled) {}

    void Show(int32_t done, int32_t total, double seconds)
    {
        if (!fEnabled || total <= 0)
            return;
        constexpr int32_t width = 30;
        const int32_t filled = int32_t(int64_t(done) * width / total);
        const double rate = seconds > 0 ? done / seconds : 0;
        QString left = "--:--";
        if (rate > 0) {
            const int32_t s = int32_t((total - done) / rate);
            left = QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
        }
        const QString line = QString("\r[%1%2] %3/%4  %5 photographs/s  %6 left\x1b[K")
                                 .arg(QString(filled, '#'), QString(width - filled, '.'))
                                 .arg(done)
                                 .arg(total)
                                 .arg(rate, 0, 'f', 2)
                                 .arg(left);
        std::fputs(qPrintable(line), stderr);
        fShown = true;
    }

    void Clear()
    {
        if (fShown)
            std::fputs("\r\x1b[K", stderr);
        fShown = false;
    }

private:
    bool fEnabled;
    bool fShown = false;
};

// Starts the command and runs the event loop until the pool reports its end. A stop request
// (Ctrl-C) is passed on as the Stop button would.
TRunOutcome RunAndWait(TTeeth& study, const TBatchOptions& o)
{
    TRunOutcome out;
    QEventLoop loop;
    bool ended = false;
    QElapsedTimer clock;
    clock.start();
    out.Started = study.RecalculateDefault(
        !o.All, o.Align, o.Deform,
        [&](bool) {
            ended = true;
            loop.quit();
        },
        o.Refit);
    if (!out.Started)
        return out;
    out.Total = study.CalcTotal;
    TProgressBar bar(!o.Quiet && isatty(STDERR_FILENO));
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (gStopRequested && !out.Stopped) {
            out.Stopped = true;
            study.AbortCalc();
            bar.Clear();
            if (!o.Quiet)
                Say("stopping: finishing the photographs in progress (Ctrl-C again quits at once)");
        }
        bar.Show(study.CalcCount, out.Total, clock.elapsed() / 1000.0);
    });
    poll.start();
    if (!ended)
        loop.exec();
    bar.Clear();
    out.Done = study.CalcCount;
    out.Seconds = clock.elapsed() / 1000.0;
    return out;
}

// The parameters of this run: the settings file's, replaced by those given on the command line.
// The atomics are set directly so that the settings file keeps its values.
void ApplyDefaults(const TBatchOptions& o)
{
    OpenSettingsFile();
    // Shared with the desktop program: after a run, the window opens the study without decoding it.
    if (const QString cache = TThumbnailCache::DefaultFolder(); !cache.isEmpty())
        TTooth::UseThumbnailCache(std::make_shared<TThumbnailCache>(cache));
    for (const QString& problem : LoadDefaultParams())
        Say(problem);
    if (o.SPNumber)
        DefaultSPNumber = *o.SPNumber;
    if (o.Compactness)
        DefaultCompactness = *o.Compactness;
    if (o.BGThreshold)
        DefaultBGThreshold = *o.BGThreshold;
    if (o.RGThreshold)
        DefaultRGThreshold = *o.RGThreshold;
}

// Checks what can be checked before any work: exit status 2 when something is wrong, else 0.
int Preflight(const TBatchOptions& o)
{
    if (!QFileInfo(o.StudyDir).isDir()) {
        Say(QString("%1: no such folder").arg(o.StudyDir));
        return 2;
    }
    if (!o.ExportFile.isEmpty()) {
        try {
            CheckExportFile(o.ExportFile);
        } catch (const TOrvixError& e) {
            Say(QString::fromStdString(e.what()));
            return 2;
        }
    }
    return 0;
}

// Loads the study; bitmaps that cannot be read are named and returned, and so is what the intake
// noticed (several photographs of one tooth and time point, result files not used).
std::vector<TFailure> LoadStudy(TTeeth& study, const QString& folder)
{
    // The run processes every photograph without results: decoding them once is enough.
    study.DecodeOnIntake = false;
    std::vector<TFailure> failures = study.LoadFolder(folder, {}, &gStopRequested);
    for (const TFailure& f : failures)
        Say(QString("cannot read %1: %2").arg(f.File, f.Message));
    for (const QString& note : study.IntakeNotes())
        Say(note);
    return failures;
}

// Names the failed and the doubtfully aligned photographs; returns the number of failures.
int32_t ReportProblems(const TTeeth& study, const QHash<QString, QString>& failures, int32_t& doubtful)
{
    doubtful = 0;
    for (const auto& series : study)
        for (const auto& tooth : *series) {
            if (const auto it = failures.find(tooth->fname); it != failures.end())
                Say(QString("failed: %1: %2").arg(tooth->fname, *it));
            const double q = TTeeth::AlignQuality(*tooth);
            if (std::isfinite(q) && q < DoubtfulAlignQuality) {
                Say(QString("doubtful alignment (quality %1): %2").arg(q, 0, 'f', 3).arg(tooth->fname));
                ++doubtful;
            }
        }
    return int32_t(failures.size());
}

// The photographs in study order, each unreadable file among them at its tooth and time point.
void PrintJson(const TTeeth& study, const QHash<QString, QString>& failures,
               const std::vector<TFailure>& unreadable)
{
    struct TLine {
        int32_t Tooth, Time;
        QByteArray Text;
    };
    std::vector<TLine> lines;
    for (const auto& series : study)
        for (const auto& tooth : *series)
            lines.push_back({tooth->ID, tooth->TimePoint, JsonLine(*tooth, failures.value(tooth->fname))});
    for (const TFailure& f : unreadable) {
        int32_t id = 0, time = 0;
        ParseToothFileName(QFileInfo(f.File).fileName(), id, time);
        lines.push_back({id, time, UnreadableJsonLine(f.File, id, ToothName(study.K9, id), time, f.Message)});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const TLine& a, const TLine& b) {
        return std::pair(a.Tooth, a.Time) < std::pair(b.Tooth, b.Time);
    });
    for (const TLine& line : lines) {
        const QByteArray text = line.Text + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    }
    std::fflush(stdout);
}

QString Summary(const TRunOutcome& run, int32_t failed, int32_t doubtful)
{
    const QString rate = run.Seconds > 0 ? QString(" (%1 per second)").arg(run.Done / run.Seconds, 0, 'f', 2) : "";
    QString text = QString("%1 of %2 photographs processed in %3 s%4; %5 failed")
                       .arg(run.Done)
                       .arg(run.Total)
                       .arg(run.Seconds, 0, 'f', 1)
                       .arg(rate)
                       .arg(failed);
    if (doubtful > 0)
        text += QString("; %1 doubtful alignment%2").arg(doubtful).arg(doubtful == 1 ? "" : "s");
    return text;
}

// After a run that was not stopped: problems, --json, --export and the summary.
int Finish(const TTeeth& study, const TBatchOptions& o, const TRunOutcome& run,
           const std::vector<TFailure>& unreadable)
{
    QHash<QString, QString> failures;
    for (const TFailure& f : study.Failures())
        failures.insert(f.File, f.Message);
    int32_t doubtful = 0;
    const int32_t failed = ReportProblems(study, failures, doubtful) + int32_t(unreadable.size());
    if (o.Json)
        PrintJson(study, failures, unreadable);
    int status = failed > 0 ? 1 : 0;
    if (!o.ExportFile.isEmpty()) {
        try {
            const int32_t row = ExportStudy(study, o.ExportFile);
            if (!o.Quiet)
                Say(QString("exported to %1 from row %2").arg(o.ExportFile).arg(row));
        } catch (const TOrvixError& e) {
            Say(QString::fromStdString(e.what()));
            status = 1;
        }
    }
    if (o.Quiet)
        return status;
    if (run.Started)
        Say(Summary(run, failed, doubtful));
    else
        Say(QString("nothing to do: every photograph is already calculated%1; %2 failed")
                .arg(o.Align ? " and aligned" : "")
                .arg(failed));
    return status;
}

} // namespace

QByteArray UnreadableJsonLine(const QString& File, int32_t Tooth, const QString& Name, int32_t Time,
                              const QString& Error)
{
    QByteArray s = "{\"file\":" + JsonString(File);
    s += ",\"tooth\":" + QByteArray::number(Tooth);
    s += ",\"name\":" + JsonString(Name);
    s += ",\"time\":" + QByteArray::number(Time);
    for (const char* key : {"total_area", "red_area", "green_area", "rg_ratio", "red_percent", "numlabels",
                            "aligned", "transform", "align_quality"})
        s += ",\"" + QByteArray(key) + "\":null";
    return s + ",\"error\":" + JsonString(Error) + "}";
}

QByteArray JsonLine(const TTooth& Tooth, const QString& Error)
{
    const TTransPars& t = Tooth.TransPars;
    const double quality = TTeeth::AlignQuality(Tooth);
    QByteArray s = "{\"file\":" + JsonString(Tooth.fname);
    s += ",\"tooth\":" + QByteArray::number(Tooth.ID);
    s += ",\"name\":" + JsonString(Tooth.tname);
    s += ",\"time\":" + QByteArray::number(Tooth.TimePoint);
    const char* measures[] = {"total_area", "red_area", "green_area", "rg_ratio", "red_percent"};
    for (int32_t p = 0; p < 5; ++p)
        s += ",\"" + QByteArray(measures[p]) + "\":" + JsonReal(Tooth.GetParam(p));
    s += ",\"numlabels\":" + QByteArray::number(Tooth.numlabels);
    s += ",\"aligned\":" + QByteArray(Tooth.NelmDone ? "true" : "false");
    s += ",\"transform\":{\"angle\":" + JsonReal(t.fAngle) + ",\"shiftx\":" + JsonReal(t.Shiftx) +
         ",\"shifty\":" + JsonReal(t.Shifty) + ",\"scalex\":" + JsonReal(t.Scalex) +
         ",\"scaley\":" + JsonReal(t.Scaley) + ",\"coeff\":" + JsonReal(t.Coeff) + "}";
    s += ",\"align_quality\":" + JsonReal(quality);
    s += ",\"error\":" + (Error.isEmpty() ? QByteArray("null") : JsonString(Error)) + "}";
    return s;
}

int RunBatch(const TBatchOptions& Options)
{
    if (const int status = Preflight(Options))
        return status;
    InstallStopHandlers();
    ApplyDefaults(Options);
    TTeeth study(Options.Threads);
    const std::vector<TFailure> unreadable = LoadStudy(study, QDir::cleanPath(Options.StudyDir));
    if (gStopRequested) {
        Say("stopped while loading the study; nothing calculated");
        return 130;
    }
    if (study.PhotographCount() == 0) {
        Say(QString("%1 holds no photographs (*.bmp files named by tooth and time point in its sub-folders)")
                .arg(Options.StudyDir));
        return 2;
    }
    if (Options.Dog) {
        try {
            study.SetSpecies(*Options.Dog);
        } catch (const TOrvixError& e) {
            Say(QString::fromStdString(e.what()));
            return 1;
        }
    }
    const TRunOutcome run = RunAndWait(study, Options);
    if (run.Stopped) {
        if (!Options.Quiet)
            Say(QString("stopped: %1 of %2 photographs completed in %3 s, and those in progress finished; "
                        "nothing exported")
                .arg(run.Done)
                .arg(run.Total)
                .arg(run.Seconds, 0, 'f', 1));
        return 130;
    }
    return Finish(study, Options, run, unreadable);
}
