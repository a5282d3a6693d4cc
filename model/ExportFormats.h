// The two file formats of the export (internal to Export.cpp). Writers take cells in row order;
// every function throws TOrvixError naming the file.
#pragma once

#include "Export.h"

void WriteCsv(const QString& FileName, const TCells& Cells);
TCells ReadCsv(const QString& FileName);
// The blocks as the first worksheet, Parameters as the second unless it is empty.
void WriteXlsx(const QString& FileName, const TExportBook& Book);
TExportBook ReadXlsx(const QString& FileName);

// The file's bytes, replacing FileName only once they are all written.
void SaveWhole(const QString& FileName, const QByteArray& Bytes);
