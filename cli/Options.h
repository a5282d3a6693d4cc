// The command line of orvix-batch.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct TBatchOptions {
    QString StudyDir;
    bool All = false;    // every photograph, not only those not yet calculated (or aligned)
    bool Align = false;  // align each photograph onto its tooth's first one before segmenting
    bool Deform = false; // the alignment may stretch or shrink the image
    bool Refit = false;  // fit aligned photographs again (implies Align)
    // Defaults for this run only; unset: the settings file's.
    std::optional<int32_t> SPNumber;
    std::optional<double> Compactness;
    std::optional<double> BGThreshold;
    std::optional<double> RGThreshold;
    std::optional<bool> Dog; // --species: switch the study to dog (true) or cat (false)
    int32_t Threads = 0;     // 0: one per logical processor
    QString ExportFile;      // empty: no export
    bool Json = false;
    bool Quiet = false;
};

enum class TParseResult { Run, Help, Error };

// Parses the arguments (Arguments[0] is the program). Run: Options is complete. Help: the user
// asked for the usage text. Error: Error says what is wrong, in one line. Reals are read with '.'
// as the decimal separator whatever the locale, so that scripts behave alike everywhere.
TParseResult ParseOptions(const QStringList& Arguments, TBatchOptions& Options, QString& Error);

// The text of --help.
QString UsageText();
