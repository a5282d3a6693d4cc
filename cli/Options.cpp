#include "Options.h"

#include "DefaultIniFile.h"
#include "Export.h"

#include <QCommandLineParser>
#include <QLocale>


namespace {

void AddOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {{"h", "help"}, ""},
        {"all", ""},
        {"align", ""},
        {"deform", ""},
        {"refit", ""},
        {"sp", "", "N"},
        {"compactness", "", "X"},
        {"bg", "", "X"},
        {"rg", "", "X"},
        {"species", "", "dog|cat"},
        {"threads", "", "N"},
        {"export", "", "FILE"},
        {"json", ""},
        {"quiet", ""},
    });
}

bool ReadInteger(const QCommandLineParser& parser, const QString& name, int32_t low, int32_t high,
                 std::optional<int32_t>& value, QString& error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int32_t v = parser.value(name).toInt(&ok);
    if (!ok || v < low || v > high) {
        error = QString("--%1 wants a whole number from %2 to %3, not \"%4\"").arg(name).arg(low).arg(high).arg(
            parser.value(name));
        return false;
    }
    value = v;
    return true;
}

// A real in the range valid() checks, read with '.' as the decimal separator.
bool ReadReal(const QCommandLineParser& parser, const QString& name, bool (*valid)(double), const char* range,
              std::optional<double>& value, QString& error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double v = QLocale::c().toDouble(parser.value(name), &ok);
    if (!ok || !valid(v)) {
        error = QString("--%1 wants a number %2 (with '.' as the decimal point), not \"%3\"")
                    .arg(name, QLatin1String(range), parser.value(name));
        return false;
    }
    value = v;
    return true;
}

bool ReadSpecies(const QCommandLineParser& parser, std::optional<bool>& dog, QString& error)
{
    if (!parser.isSet("species"))
        return true;
    const QString s = parser.value("species").toLower();
    if (s != "dog" && s != "cat") {
        error = QString("--species wants dog or cat, not \"%1\"").arg(parser.value("species"));
        return false;
    }
    dog = s == "dog";
    return true;
}

bool ReadExport(const QCommandLineParser& parser, QString& file, QString& error)
{
    if (!parser.isSet("export"))
        return true;
    file = parser.value("export");
    TExportFormat format;
    if (!ExportFormatOf(file, format)) {
        error = QString("--export wants a file name ending in .xlsx or .csv, not \"%1\"").arg(file);
        return false;
    }
    return true;
}

} // namespace

TParseResult ParseOptions(const QStringList& Arguments, TBatchOptions& Options, QString& Error)
{
    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(Arguments)) {
        Error = parser.errorText();
        return TParseResult::Error;
    }
    if (parser.isSet("help"))
        return TParseResult::Help;
    TBatchOptions o;
    o.All = parser.isSet("all");
    o.Align = parser.isSet("align");
    o.Deform = parser.isSet("deform");
    o.Json = parser.isSet("json");
    o.Quiet = parser.isSet("quiet");
    std::optional<int32_t> threads;
    o.Refit = parser.isSet("refit");
    o.Align = o.Align || o.Refit;
    const bool ok = ReadInteger(parser, "sp", 1, 100000, o.SPNumber, Error) &&
                    ReadReal(parser, "compactness", ValidCompactness, CompactnessRange, o.Compactness, Error) &&
                    ReadReal(parser, "bg", ValidBGThreshold, BGThresholdRange, o.BGThreshold, Error) &&
                    ReadReal(parser, "rg", ValidRGThreshold, RGThresholdRange, o.RGThreshold, Error) &&
                    ReadSpecies(parser, o.Dog, Error) &&
                    ReadInteger(parser, "threads", 1, 1024, threads, Error) && ReadExport(parser, o.ExportFile, Error);
    if (!ok)
        return TParseResult::Error;
    o.Threads = threads.value_or(0);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        Error = positional.isEmpty() ? "no study folder given" : "more than one study folder given";
        return TParseResult::Error;
    }
    o.StudyDir = positional.front();
    Options = o;
    return TParseResult::Run;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage: orvix-batch [options] STUDY_DIR\n"
        "\n"
        "Loads the study in STUDY_DIR, calculates its photographs with the default parameters and\n"
        "reports the results. Result files (.sp) are written beside the photographs.\n"
        "\n"
        "A study is a folder whose sub-folders (one per examination, any names) hold the\n"
        "photographs as .bmp files; bitmaps directly in STUDY_DIR or deeper down are not read.\n"
        "Characters 2-3 of a file name are the tooth number and characters 4-6 the time point,\n"
        "the rest is free: visit1/P11000.bmp is tooth 11 at time point 0, visit2/P11001 left.bmp\n"
        "tooth 11 at time point 1. Names that share characters 2-6 (P11000 (2).bmp, P11000_old.bmp)\n"
        "are the same tooth and time point: they are named on stderr and the first in listing\n"
        "order is the one exported.\n"
        "\n"
        "Which photographs (the commands of the main window):\n"
        "  (neither)          Calculate NEW: segment those not yet calculated\n"
        "  --align            Align NEW: align onto the tooth's first photograph, then segment,\n"
        "                     those not yet calculated or not yet aligned\n"
        "  --all              Recalculate ALL: segment every photograph\n"
        "  --all --align      Realign ALL: segment every photograph; those aligned before get\n"
        "                     their stored alignment back and are not fitted again (so --deform\n"
        "                     changes nothing for them), the others are aligned\n"
        "  --refit            with --align (implied): fit every photograph of the run again,\n"
        "                     starting from its current alignment (the editor's \"Realign\");\n"
        "                     --all --refit refits the whole study\n"
        "  --deform           the alignment may stretch or shrink the image (\"Deformation\")\n"
        "\n"
        "Parameters for this run (the settings file keeps its values; without an option its\n"
        "value is used):\n"
        "  --sp N             number of superpixels, 1 to 100000 (DefaultSPNumber)\n"
        "  --compactness X    compactness of the superpixels, above 0 and at most 1000\n"
        "                     (DefaultCompactness)\n"
        "  --bg X             background threshold, a fraction 0 to 1 of the brightest\n"
        "                     superpixel (DefaultBGThreshold)\n"
        "  --rg X             red/green threshold, -1 to 1 (DefaultRGThreshold)\n"
        "  --species dog|cat  switch the study's species first (creates or deletes the marker\n"
        "                     file 'feline' in STUDY_DIR)\n"
        "\n"
        "The settings file is $APPDATA/orvix/orvix.ini, else $XDG_CONFIG_HOME/orvix/orvix.ini,\n"
        "else ~/.config/orvix/orvix.ini (section [Main]; reals with '.' or ','). A value out of\n"
        "its range is named on stderr and the built-in default (400, 20, 0.5, 0) used instead.\n"
        "\n"
        "Output:\n"
        "  --export FILE      write the measurements to FILE (.xlsx or .csv). A file written\n"
        "                     earlier by this program gets the new block below its blocks; any\n"
        "                     other existing file is refused and left alone. FILE is checked\n"
        "                     before the run; exports to one file wait for each other.\n"
        "                     An .xlsx also gets a row per photograph in its sheet \"Parameters\"\n"
        "                     (file, parameters of the calculation, mask, alignment, transform,\n"
        "                     alignment quality), appended like the blocks. That sheet is\n"
        "                     written only to .xlsx: a .csv holds the measurements alone.\n"
        "  --json             one JSON object per photograph on stdout, in study order, also for\n"
        "                     photographs that could not be read (measurements null, error set)\n"
        "  --quiet            no progress bar and no summary on stderr\n"
        "  --threads N        worker threads (default: one per logical processor)\n"
        "  -h, --help         show this text\n"
        "\n"
        "Ctrl-C stops the run as the Stop button does: photographs in progress are finished,\n"
        "no new one is started, and neither --json nor --export output is written. Press it\n"
        "again to quit at once.\n"
        "\n"
        "Exit status: 0 every photograph succeeded; 1 a photograph could not be read, calculated\n"
        "or saved, or the export failed; 2 bad usage, a missing folder, a study without\n"
        "photographs or an export file that cannot be used; 130 stopped by Ctrl-C.\n");
}
