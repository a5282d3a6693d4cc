// The export as an Excel workbook: written with libxlsxwriter, read back with minizip and
// QXmlStreamReader. The library cannot open an existing workbook, so adding a block to one means
// reading its cells and writing the whole workbook again; the custom document property
// Generator = "orvix" tells our workbooks from any other. Worksheets are found as a spreadsheet
// program finds them, through xl/workbook.xml and its relationships, so that their order and names
// hold also in a workbook another program saved.
#include "ExportFormats.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <unzip.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <memory>

namespace {

constexpr const char* GeneratorProperty = "Generator";
constexpr const char* GeneratorValue = "orvix";
constexpr const char* SheetName = "Orvix";
constexpr uint64_t MaxEntrySize = 256u << 20; // far above any export; refuses zip bombs

[[noreturn]] void Fail(const QString& fileName, const QString& what)
{
    throw TOrvixError(QString("%1: %2").arg(fileName, what).toStdString());
}

lxw_error WriteCell(lxw_worksheet* sheet, const TCell& c)
{
    if (c.Row < 1 || c.Column < 1)
        return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
    const auto row = lxw_row_t(c.Row - 1);
    const auto col = lxw_col_t(c.Column - 1);
    if (c.Column - 1 != col)
        return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
    if (const QString* text = std::get_if<QString>(&c.Value))
        return worksheet_write_string(sheet, row, col, text->toUtf8().constData(), nullptr);
    if (const int32_t* i = std::get_if<int32_t>(&c.Value))
        return worksheet_write_number(sheet, row, col, double(*i), nullptr);
    return worksheet_write_number(sheet, row, col, std::get<double>(c.Value), nullptr);
}

lxw_error WriteCells(lxw_worksheet* sheet, const TCells& cells)
{
    for (const TCell& c : cells)
        if (const lxw_error error = WriteCell(sheet, c); error != LXW_NO_ERROR)
            return error;
    return LXW_NO_ERROR;
}

struct TZipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};
using TZipPtr = std::unique_ptr<void, TZipCloser>;

// The entry Name of the archive; false when there is none. Throws when it cannot be read.
bool ReadEntry(unzFile zip, const QString& fileName, const char* name, QByteArray& bytes)
{
    if (unzLocateFile(zip, name, 1) != UNZ_OK)
        return false;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
        info.uncompressed_size > MaxEntrySize || unzOpenCurrentFile(zip) != UNZ_OK)
        Fail(fileName, QString("damaged workbook (%1)").arg(name));
    bytes.resize(qsizetype(info.uncompressed_size));
    const int read = bytes.isEmpty() ? 0 : unzReadCurrentFile(zip, bytes.data(), unsigned(bytes.size()));
    // Closing checks the CRC of everything read.
    if (unzCloseCurrentFile(zip) != UNZ_OK || read != bytes.size())
        Fail(fileName, QString("damaged workbook (%1)").arg(name));
    return true;
}

struct TSheetEntry {
    QString Name;
    QString Entry; // the archive entry of its cells
};

// Relationship id -> archive entry, from xl/_rels/workbook.xml.rels. Targets are relative to xl/
// unless they start with '/'.
QHash<QString, QString> WorkbookTargets(const QByteArray& rels)
{
    QHash<QString, QString> targets;
    QXmlStreamReader xml(rels);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("Relationship")) {
            const QString target = xml.attributes().value("Target").toString();
            targets.insert(xml.attributes().value("Id").toString(),
                           QDir::cleanPath(target.startsWith(u'/') ? target.mid(1) : "xl/" + target));
        }
    }
    if (xml.hasError())
        throw TOrvixError(xml.errorString().toStdString());
    return targets;
}

// The workbook's sheets in their order, from xl/workbook.xml; a sheet that is not a worksheet (a
// chart sheet) is an error.
std::vector<TSheetEntry> Worksheets(const QByteArray& workbook, const QHash<QString, QString>& targets)
{
    static const QRegularExpression worksheet(QStringLiteral("^xl/worksheets/[^/]+\\.xml$"));
    std::vector<TSheetEntry> sheets;
    QXmlStreamReader xml(workbook);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("sheet"))
            continue;
        // r:id, whatever prefix the relationships' namespace has.
        QString id;
        for (const QXmlStreamAttribute& a : xml.attributes())
            if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                id = a.value().toString();
        const QString entry = targets.value(id);
        if (!worksheet.match(entry).hasMatch())
            throw TOrvixError("a sheet that is not a worksheet");
        sheets.push_back({xml.attributes().value("name").toString(), entry});
    }
    if (xml.hasError())
        throw TOrvixError(xml.errorString().toStdString());
    return sheets;
}

bool HasGeneratorProperty(const QByteArray& customXml)
{
    QXmlStreamReader xml(customXml);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("property") &&
            xml.attributes().value("name") == QLatin1String(GeneratorProperty)) {
            xml.readNextStartElement(); // the typed value, vt:lpwstr
            return xml.readElementText() == QLatin1String(GeneratorValue);
        }
    }
    return false;
}

// Every <t> text under each <si>, joined (rich text is split into runs).
QStringList SharedStrings(const QByteArray& bytes)
{
    QStringList strings;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("si"))
            strings << QString();
        else if (xml.isStartElement() && xml.name() == QLatin1String("t") && !strings.isEmpty())
            strings.last() += xml.readElementText();
    }
    return strings;
}

// "AB12" -> row 12, column 28; false when it is not a cell reference.
bool ParseReference(QStringView ref, int32_t& row, int32_t& column)
{
    qsizetype i = 0;
    column = 0;
    for (; i < ref.size() && i < 4 && ref[i] >= u'A' && ref[i] <= u'Z'; ++i)
        column = column * 26 + (ref[i].unicode() - u'A' + 1);
    const QStringView digits = ref.mid(i);
    if (i == 0 || digits.isEmpty() || digits.size() > 7 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return false;
    row = digits.toInt();
    return row > 0;
}

// One <c> element, the reader on its start; false for an element without a value.
bool ReadCell(QXmlStreamReader& xml, const QStringList& shared, TCell& cell)
{
    if (!ParseReference(xml.attributes().value("r"), cell.Row, cell.Column))
        throw TOrvixError("a cell without a valid reference");
    const QString type = xml.attributes().value("t").toString();
    QString value;
    bool hasValue = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("v") || xml.name() == QLatin1String("is")) {
            value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            hasValue = true;
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!hasValue)
        return false;
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = value.toInt(&ok);
        if (!ok || index < 0 || index >= shared.size())
            throw TOrvixError("a shared string that does not exist");
        cell.Value = shared[index];
    } else if (type == QLatin1String("str") || type == QLatin1String("inlineStr")) {
        cell.Value = value;
    } else if (type.isEmpty() || type == QLatin1String("n")) {
        bool ok = false;
        cell.Value = value.toDouble(&ok);
        if (!ok)
            throw TOrvixError("a number cell that holds no number");
    } else {
        throw TOrvixError("a cell that is neither text nor number");
    }
    return true;
}

TCells SheetCells(const QByteArray& sheetXml, const QStringList& shared)
{
    TCells cells;
    QXmlStreamReader xml(sheetXml);
    while (!xml.atEnd()) {
        xml.readNext();
        TCell cell;
        if (xml.isStartElement() && xml.name() == QLatin1String("c") && ReadCell(xml, shared, cell))
            cells.push_back(std::move(cell));
    }
    if (xml.hasError())
        throw TOrvixError(xml.errorString().toStdString());
    return cells;
}

} // namespace

void WriteXlsx(const QString& FileName, const TExportBook& Book)
{
    // The library writes to a path of its own; the bytes then replace FileName in one step.
    QTemporaryDir dir;
    if (!dir.isValid())
        Fail(FileName, "cannot create a temporary folder");
    const QString path = dir.filePath("export.xlsx");
    lxw_workbook* workbook = workbook_new(QFile::encodeName(path).constData());
    if (!workbook)
        Fail(FileName, "cannot create the workbook");
    lxw_error error = workbook_set_custom_property_string(workbook, GeneratorProperty, GeneratorValue);
    lxw_worksheet* blocks = workbook_add_worksheet(workbook, SheetName);
    lxw_worksheet* parameters =
        Book.Parameters.empty() ? nullptr : workbook_add_worksheet(workbook, ParametersSheetName);
    const bool sheets = blocks && (parameters || Book.Parameters.empty());
    if (sheets && error == LXW_NO_ERROR)
        error = WriteCells(blocks, Book.Blocks);
    if (sheets && error == LXW_NO_ERROR && parameters) {
        // The header stays in sight while scrolling through many photographs.
        worksheet_freeze_panes(parameters, 1, 0);
        error = WriteCells(parameters, Book.Parameters);
    }
    const lxw_error closed = workbook_close(workbook); // frees the workbook in every case
    if (!sheets)
        Fail(FileName, "cannot add a worksheet");
    if (error != LXW_NO_ERROR || closed != LXW_NO_ERROR)
        Fail(FileName, QString::fromUtf8(lxw_strerror(error != LXW_NO_ERROR ? error : closed)));
    // The library's own writes are checked by reading its workbook back (the archive's CRCs
    // included) before it replaces anything.
    try {
        ReadXlsx(path);
    } catch (const TOrvixError& e) {
        Fail(FileName, QString("the workbook was not written completely (%1)").arg(QString::fromStdString(e.what())));
    }
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly))
        Fail(FileName, written.errorString());
    SaveWhole(FileName, written.readAll());
}

TExportBook ReadXlsx(const QString& FileName)
{
    TZipPtr zip(unzOpen64(QFile::encodeName(FileName).constData()));
    if (!zip)
        Fail(FileName, "not an .xlsx workbook");
    QByteArray custom, workbook, rels, shared;
    if (!ReadEntry(zip.get(), FileName, "docProps/custom.xml", custom) || !HasGeneratorProperty(custom))
        Fail(FileName, "a workbook not written by this program");
    if (!ReadEntry(zip.get(), FileName, "xl/workbook.xml", workbook) ||
        !ReadEntry(zip.get(), FileName, "xl/_rels/workbook.xml.rels", rels))
        Fail(FileName, "damaged workbook (no list of worksheets)");
    ReadEntry(zip.get(), FileName, "xl/sharedStrings.xml", shared);
    std::vector<TSheetEntry> sheets;
    try {
        sheets = Worksheets(workbook, WorkbookTargets(rels));
    } catch (const TOrvixError& e) {
        Fail(FileName, QString::fromStdString(e.what()));
    }
    // Any other sheet would be lost when the workbook is written again.
    if (sheets.empty() || sheets.size() > 2 || (sheets.size() == 2 && sheets[1].Name != ParametersSheetName))
        Fail(FileName, QString("worksheets other than the blocks and then \"%1\"").arg(ParametersSheetName));
    const QStringList strings = SharedStrings(shared);
    TExportBook book;
    for (size_t i = 0; i < sheets.size(); ++i) {
        QByteArray xml;
        if (!ReadEntry(zip.get(), FileName, sheets[i].Entry.toUtf8().constData(), xml))
            Fail(FileName, QString("damaged workbook (no %1)").arg(sheets[i].Entry));
        try {
            (i == 0 ? book.Blocks : book.Parameters) = SheetCells(xml, strings);
        } catch (const TOrvixError& e) {
            Fail(FileName, QString::fromStdString(e.what()));
        }
    }
    return book;
}
