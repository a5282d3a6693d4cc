// Reads a workbook with openpyxl, a reader independent of the program's own, through Debian's
// Python (a separate python3 on the PATH may not see Debian's packages).
#pragma once

#include "Export.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

struct TOpenpyxlBook {
    int Sheets = 0;
    QStringList SheetNames; // in the workbook's order
    bool Generator = false; // docProps/custom.xml names us as the generator
    TCells Cells;           // of the sheet asked for, numbers as reals
};

// Reads the worksheet named Sheet, or the first one when Sheet is empty. False, with the reason in
// Error, when the workbook cannot be read or has no such sheet.
inline bool ReadWithOpenpyxl(const QString& Path, TOpenpyxlBook& Book, QString& Error, const QString& Sheet = {})
{
    static const char* script = R"(
import json, sys, zipfile, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
custom = zipfile.ZipFile(sys.argv[1]).read('docProps/custom.xml').decode()
out = {'sheets': wb.sheetnames, 'generator': 'Generator' in custom and 'orvix' in custom, 'cells': []}
for row in (wb[sys.argv[2]] if sys.argv[2] else wb.worksheets[0]).iter_rows():
    for c in row:
        if c.value is not None:
            out['cells'].append([c.row, c.column, c.value])
print(json.dumps(out))
)";
    QProcess python;
    python.start("/usr/bin/python3", {"-c", script, Path, Sheet});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        Error = QString::fromUtf8(python.readAllStandardError());
        return false;
    }
    const QJsonObject out = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    Book.SheetNames.clear();
    for (const QJsonValue& v : out["sheets"].toArray())
        Book.SheetNames << v.toString();
    Book.Sheets = int(Book.SheetNames.size());
    Book.Generator = out["generator"].toBool();
    Book.Cells.clear();
    for (const QJsonValue& v : out["cells"].toArray()) {
        const QJsonArray c = v.toArray();
        TCell cell{c[0].toInt(), c[1].toInt(), c[2].toDouble()};
        if (c[2].isString())
            cell.Value = c[2].toString();
        Book.Cells.push_back(cell);
    }
    return true;
}
