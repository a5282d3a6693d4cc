// make-demo-study: renders a small synthetic study with its answers (truth.csv).
#include "DemoScene.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <exception>

namespace {

QTextStream& Err()
{
    static QTextStream err(stderr);
    return err;
}

bool ReadInt(const QCommandLineParser& parser, const QString& name, int32_t low, int32_t high, int32_t& value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int32_t v = parser.value(name).toInt(&ok);
    if (!ok || v < low || v > high) {
        Err() << "make-demo-study: --" << name << " must be a whole number from " << low << " to " << high
              << Qt::endl;
        return false;
    }
    value = v;
    return true;
}

bool ReadReal(const QCommandLineParser& parser, const QString& name, double low, double high, double& value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (!ok || !(v >= low && v <= high)) {
        Err() << "make-demo-study: --" << name << " must be a number from " << low << " to " << high << Qt::endl;
        return false;
    }
    value = v;
    return true;
}

bool ReadOptions(const QCommandLineParser& parser, TDemoOptions& o)
{
    int32_t seed = int32_t(o.Seed & 0x7fffffff);
    const bool ok = ReadInt(parser, "teeth", 1, 32, o.Teeth) && ReadInt(parser, "times", 1, 999, o.TimePoints) &&
                    ReadInt(parser, "width", 64, 16384, o.Width) && ReadInt(parser, "height", 64, 16384, o.Height) &&
                    ReadInt(parser, "seed", 0, 0x7fffffff, seed) && ReadReal(parser, "noise", 0, 100, o.Noise) &&
                    ReadReal(parser, "max-angle", 0, 90, o.MaxAngle) &&
                    ReadReal(parser, "max-shift", 0, 40, o.MaxShift) &&
                    ReadReal(parser, "max-scale", 0, 30, o.MaxScale);
    o.Seed = uint32_t(seed);
    return ok;
}

// DIR must be new, empty or an earlier demo (recognised by its truth.csv), whose photographs,
// result files and species marker are then removed: stale result files would make the fresh
// photographs look calculated already.
bool PrepareFolder(const QString& folder)
{
    QDir dir(folder);
    if (dir.exists() && !dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (!dir.exists("truth.csv")) {
            Err() << "make-demo-study: " << folder << " is neither empty nor an earlier demo study" << Qt::endl;
            return false;
        }
        for (const QString& sub : {QString("visit1"), QString("visit2")})
            QDir(dir.filePath(sub)).removeRecursively();
        dir.remove("feline");
    }
    if (!dir.mkpath("visit1") || !dir.mkpath("visit2")) {
        Err() << "make-demo-study: cannot create " << folder << Qt::endl;
        return false;
    }
    return true;
}

QString Number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

bool WriteTruth(const QString& folder, const std::vector<TDemoPhoto>& photos)
{
    QSaveFile file(QDir(folder).filePath("truth.csv"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    out << "file,tooth,time,red_area,green_area,angle,shiftx,shifty,gain,scale\r\n";
    for (const TDemoPhoto& p : photos)
        out << p.File << ',' << p.Tooth << ',' << p.TimePoint << ',' << Number(p.RedArea) << ','
            << Number(p.GreenArea) << ',' << Number(p.Angle) << ',' << Number(p.Shiftx) << ','
            << Number(p.Shifty) << ',' << Number(p.Gain) << ',' << Number(p.Scale) << "\r\n";
    out.flush();
    return file.commit();
}

int Render(const QString& folder, const TDemoOptions& options)
{
    if (!PrepareFolder(folder))
        return 1;
    std::vector<TDemoPhoto> photos = PlanDemoStudy(options);
    for (TDemoPhoto& p : photos) {
        const QImage im = RenderDemoPhoto(options, p);
        const QString path = QDir(folder).filePath(p.File);
        if (!im.save(path, "BMP")) {
            Err() << "make-demo-study: cannot write " << path << Qt::endl;
            return 1;
        }
    }
    if (!WriteTruth(folder, photos)) {
        Err() << "make-demo-study: cannot write " << QDir(folder).filePath("truth.csv") << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Renders a demo study of fluorescence tooth photographs into DIR (new, empty, or an earlier demo):\n"
        "the bitmaps in DIR/visit1 and DIR/visit2, and DIR/truth.csv with the true red and green share\n"
        "of every photograph in percent of the image and each photograph's displacement (the camera's\n"
        "rotation in degrees, shift in pixels with y down, lighting gain and zoom).");
    parser.addHelpOption();
    parser.addOptions({{"teeth", "Number of teeth, 1..32 (default 4).", "N"},
                       {"times", "Time points per tooth, 1..999 (default 3).", "N"},
                       {"width", "Image width in pixels (default 640).", "W"},
                       {"height", "Image height in pixels (default 480).", "H"},
                       {"seed", "Seed of the random layout (default 20261210).", "S"},
                       {"noise", "Camera noise: Gaussian, SIGMA grey levels per channel (default: uniform -3..3).",
                        "SIGMA"},
                       {"max-angle", "Largest rotation of later photographs, degrees (default 10).", "DEG"},
                       {"max-shift", "Largest shift of later photographs, percent of the width (default 8).", "PCT"},
                       {"max-scale", "Largest zoom of later photographs, percent either way (default 0).", "PCT"}});
    parser.addPositionalArgument("DIR", "The study folder to create.");
    if (!parser.parse(app.arguments())) {
        Err() << "make-demo-study: " << parser.errorText() << Qt::endl;
        return 2;
    }
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    TDemoOptions options;
    if (parser.positionalArguments().size() != 1 || !ReadOptions(parser, options)) {
        if (parser.positionalArguments().size() != 1)
            Err() << "make-demo-study: expected one study folder (see --help)" << Qt::endl;
        return 2;
    }
    try {
        return Render(parser.positionalArguments().front(), options);
    } catch (const std::exception& e) {
        Err() << "make-demo-study: " << e.what() << Qt::endl;
        return 1;
    }
}
