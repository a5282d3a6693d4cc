// The spreadsheet export: one block of cells per export of a study, written to an .xlsx or .csv
// file. A later export to the same file goes below the blocks already there. A workbook has a
// second worksheet, "Parameters", saying how each exported photograph was measured (a CSV holds
// the blocks alone).
//
// Block of a study with T teeth whose latest time point is L, starting at row R (rows and columns
// 1-based; tooth t and measurement p share column 5t + p + 2):
//   R          column 1: the study's name
//   R + 1      column 1: "Time"; each tooth's name over its five columns
//   R + 2      the five measurement names, once per tooth
//   R + 3 + u  for u = 0 .. L: column 1 the time point u, then the measurements of the photograph
//              of each tooth at u (GetParam 0..4); empty where the tooth has no photograph at u
// The next block starts at R + L + 4. Rows go up to the latest time point rather than to
// MaxTimeCount, so that a study whose time points do not start at 0 cannot spill into the rows
// of the next block.
#pragma once

#include "Types.h"

#include <QString>

#include <array>
#include <variant>

class TTeeth;

// The measurement names by GetParam index, as the main window shows them.
inline constexpr std::array<const char*, 5> MeasurementNames = {"Total Area", "Red Area", "Green Area",
                                                                "R/G Ratio", "Red %"};

// One cell: 1-based row and column, and a text, an integer or a real.
struct TCell {
    int32_t Row = 0;
    int32_t Column = 0;
    std::variant<QString, int32_t, double> Value;
    friend bool operator==(const TCell&, const TCell&) = default;
};
using TCells = std::vector<TCell>;

// The cells of an export file: the blocks (the first worksheet, or the whole CSV) and the
// "Parameters" worksheet, empty for a CSV and for workbooks written before that sheet existed.
struct TExportBook {
    TCells Blocks;
    TCells Parameters;
};

inline constexpr const char* ParametersSheetName = "Parameters";

// The "Parameters" sheet: the header ParameterNames once in row 1, then one row per exported
// photograph, each export's rows below those of the earlier ones. Columns (1-based):
//   1      the study's name
//   2      the row of the first sheet where the export's block starts: which export the row is of
//   3      the bitmap relative to the study folder (visit1/P11000.bmp)
//   4-6    tooth number, tooth name, time point
//   7-10   SPnumber, Compactness, BGThreshold, RGThreshold of the calculation
//   11     "yes" when a tooth mask took part in the classification, else "no"
//   12     "reference" for the tooth's first photograph (the one its later photographs are aligned
//          onto), "yes" for an aligned later photograph, else "no"
//   13-18  TransPars, the transform the measured image went through: the identity for a
//          photograph never transformed, a hand-set one even when not aligned
//   19     TTeeth::AlignQuality of an aligned later photograph
// A photograph not yet calculated leaves 7 to 11 empty; one without a quality leaves 19 empty.
inline constexpr std::array<const char*, 19> ParameterNames = {
    "Study",    "Block row",   "File",        "Tooth",       "Name", "Time point",
    "SPnumber", "Compactness", "BGThreshold", "RGThreshold", "Mask", "Aligned",
    "Angle (degrees)", "Shift X (pixels)", "Shift Y (pixels)", "Scale X", "Scale Y", "Intensity gain",
    "Alignment quality"};

// Rows the block of Teeth takes; 0 for a study without photographs.
int32_t ExportBlockRows(const TTeeth& Teeth);

// Appends the block of Teeth, starting at StartRow, to Cells in row order and returns the row after
// it. A study without photographs adds nothing and returns StartRow. Empty tooth names add no cell.
// Must not run during a batch (it reads the photographs' measurements).
int32_t BuildExportBlock(const TTeeth& Teeth, int32_t StartRow, TCells& Cells);

// Start rows of the blocks in Cells, which must be complete blocks of this program, one below the
// other from row 1, and nothing else. Throws TOrvixError otherwise.
TIntVector ExportBlockStarts(const TCells& Cells);

// Appends to Cells the "Parameters" rows of Teeth, whose block starts at BlockRow of the first
// sheet: the header first when StartRow is 1, then one row per photograph the block reports (teeth
// in study order, then time points), from StartRow on. Returns the row after the last. Reals that
// are not finite leave their cells empty. Must not run during a batch (it reads the photographs);
// the alignment qualities are computed on as many threads as the study has workers.
int32_t BuildParameterRows(const TTeeth& Teeth, int32_t BlockRow, int32_t StartRow, TCells& Cells);

// The row below the last of Cells, which must be a "Parameters" sheet of this program (the header
// in row 1 and nothing right of it) or empty; 1 when empty. Throws TOrvixError otherwise.
int32_t ParameterSheetEnd(const TCells& Cells);

enum class TExportFormat { Csv, Xlsx };

// From the extension of FileName (.csv or .xlsx, any letter case); false for any other.
bool ExportFormatOf(const QString& FileName, TExportFormat& Format);

// Writes Book as the whole file, through a temporary file that replaces FileName only once it is
// complete. CSV: the blocks alone (Parameters is not written); RFC 4180, CRLF line ends, UTF-8,
// every text quoted and numbers bare (so the file reads back with its types), reals in the
// shortest form that reads back as the same double, rows padded to the same number of fields.
// XLSX: the blocks as the worksheet "Orvix", then Parameters as the worksheet "Parameters" unless
// it is empty; marked as ours by the custom document property Generator = "orvix"; reals as the
// library writes them (16 significant digits). The workbook is read back before it replaces
// anything. Throws TOrvixError naming the file; FileName is then unchanged.
void WriteExportFile(const QString& FileName, TExportFormat Format, const TExportBook& Book);
// The blocks alone: a workbook of one worksheet, as exports were before "Parameters".
void WriteExportFile(const QString& FileName, TExportFormat Format, const TCells& Cells);

// Reads back a file written by WriteExportFile. Throws TOrvixError when the file cannot be read or
// was not written by this program: an .xlsx without our marker or whose worksheets are not the
// blocks alone or the blocks then "Parameters", a CSV that is not well formed. Numbers of an .xlsx
// come back as reals. The cells' structure is checked by ExportBlockStarts and ParameterSheetEnd.
TExportBook ReadExportBook(const QString& FileName, TExportFormat Format);
// The blocks of ReadExportBook.
TCells ReadExportFile(const QString& FileName, TExportFormat Format);

// The export of a study: a new file holding its block at row 1, or, when FileName already holds
// blocks of this program, the same file with the block added below them (the file is rewritten
// whole, through a temporary file). A workbook also gets the study's rows below those already in
// its "Parameters" sheet (a workbook without one, from before it existed, gets the sheet).
// Returns the row where the block starts. Throws TOrvixError,
// leaving any existing file untouched, when the study has no photographs, the extension is
// neither .csv nor .xlsx, an existing file is not an export of this program, or a write fails.
// Exports to one file are serialised by a lock file beside it (FileName + ".lock") held over the
// read, the append and the replacement: a second export, in this or another process, waits for the
// first up to LockTimeoutMs and then throws TOrvixError saying so.
// UI thread (or a tool's main thread), never during a batch.
int32_t ExportStudy(const TTeeth& Teeth, const QString& FileName, int32_t LockTimeoutMs = 60000);

// The checks of ExportStudy on the file alone, for a caller that wants to refuse a file before
// a long run rather than after it: the folder exists and may be written in, an existing file may
// be written and is an export of this program (its blocks and any "Parameters" sheet). Returns
// the row where the next block would start (1 for a file that does not exist yet); throws
// TOrvixError as ExportStudy does. Writes nothing.
int32_t CheckExportFile(const QString& FileName);
