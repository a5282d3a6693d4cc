// An earlier export that a new block is to be added to: the input is the file (CSV, or .xlsx when
// built with ORVIX_FUZZ_XLSX). A refusal (TOrvixError) is a sound answer. A file accepted as ours
// must hold blocks, and (CSV) write back and read back as the same cells.
#include "Export.h"
#include "FuzzCommon.h"

#include <cstdio>

namespace {

// The same cells; numbers compare by value (a real 1.0 is written "1" and reads back as an integer).
bool SameCells(const TCells& a, const TCells& b)
{
    auto real = [](const TCell& c) {
        const int32_t* i = std::get_if<int32_t>(&c.Value);
        return i ? double(*i) : std::get<double>(c.Value);
    };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].Row != b[i].Row || a[i].Column != b[i].Column)
            return false;
        const QString* s = std::get_if<QString>(&a[i].Value);
        const QString* t = std::get_if<QString>(&b[i].Value);
        if ((s == nullptr) != (t == nullptr) || (s ? *s != *t : real(a[i]) != real(b[i])))
            return false;
    }
    return true;
}

} // namespace

#ifdef ORVIX_FUZZ_XLSX
constexpr TExportFormat Format = TExportFormat::Xlsx;
constexpr const char* Suffix = ".xlsx";
#else
constexpr TExportFormat Format = TExportFormat::Csv;
constexpr const char* Suffix = ".csv";
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::QuietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = Fuzz::PathOf(QString("earlier") + Suffix);
    Fuzz::WriteFile(path, data, size);
    TCells cells;
    try {
        cells = ReadExportFile(path, Format);
        const TIntVector starts = ExportBlockStarts(cells);
        FUZZ_CHECK(!starts.empty() || cells.empty());
        (void)CheckExportFile(path);
    } catch (const TOrvixError&) {
        return 0;
    }
    if (Format == TExportFormat::Csv && !cells.empty()) {
        const QString copy = Fuzz::PathOf("copy.csv");
        WriteExportFile(copy, TExportFormat::Csv, cells);
        FUZZ_CHECK(SameCells(ReadExportFile(copy, TExportFormat::Csv), cells));
    }
    return 0;
}
