// The spreadsheet export: one block of cells per export of a study, written to an .xlsx or .csv
// file. A later export to the same file goes below the blocks already there.
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

// Rows the block of Teeth takes; 0 for a study without photographs.
int32_t ExportBlockRows(const TTeeth& Teeth);

// Appends the block of Teeth, starting at StartRow, to Cells in row order and returns the row after
// it. A study without photographs adds nothing and returns StartRow. Empty tooth names add no cell.
// Must not run during a batch (it reads the photographs' measurements).
int32_t BuildExportBlock(const TTeeth& Teeth, int32_t StartRow, TCells& Cells);

// Start rows of the blocks in Cells, which must be complete blocks of this program, one below the
// other from row 1, and nothing else. Throws TOrvixError otherwise.
TIntVector ExportBlockStarts(const TCells& Cells);

enum class TExportFormat { Csv, Xlsx };

// From the extension of FileName (.csv or .xlsx, any letter case); false for any other.
bool ExportFormatOf(const QString& FileName, TExportFormat& Format);

// Writes Cells as the whole file, through a temporary file that replaces FileName only once it is
// complete. CSV: RFC 4180, CRLF line ends, UTF-8, every text quoted and numbers bare (so the file
// reads back with its types), reals in the shortest form that reads back as the same double, rows
// padded to the same number of fields. XLSX: one worksheet, marked as ours by the custom document
// property Generator = "orvix"; reals as the library writes them (16 significant digits).
// Throws TOrvixError naming the file; FileName is then unchanged.
void WriteExportFile(const QString& FileName, TExportFormat Format, const TCells& Cells);

// Reads back a file written by WriteExportFile, in row order. Throws TOrvixError when the file
// cannot be read or was not written by this program (an .xlsx without our marker, a CSV whose
// cells do not form our blocks). Numbers of an .xlsx come back as reals.
TCells ReadExportFile(const QString& FileName, TExportFormat Format);

// The export of a study: a new file holding its block at row 1, or, when FileName already holds
// blocks of this program, the same file with the block added below them (the file is rewritten
// whole, through a temporary file). Returns the row where the block starts. Throws TOrvixError,
// leaving any existing file untouched, when the study has no photographs, the extension is
// neither .csv nor .xlsx, an existing file is not an export of this program, or a write fails.
// Exports to one file are serialised by a lock file beside it (FileName + ".lock") held over the
// read, the append and the replacement: a second export, in this or another process, waits for the
// first up to LockTimeoutMs and then throws TOrvixError saying so.
// UI thread (or a tool's main thread), never during a batch.
int32_t ExportStudy(const TTeeth& Teeth, const QString& FileName, int32_t LockTimeoutMs = 60000);

// The checks of ExportStudy on the file alone, for a caller that wants to refuse a file before
// a long run rather than after it: the folder exists and may be written in, an existing file may
// be written and is an export of this program. Returns the row where the next block would start
// (1 for a file that does not exist yet); throws TOrvixError as ExportStudy does. Writes nothing.
int32_t CheckExportFile(const QString& FileName);
