// One run of orvix-batch: load the study, run the batch command, report, export.
#pragma once

#include "Options.h"

class TTooth;

// Runs the command of Options and returns the exit status (0, 1, 2 or 130, see UsageText).
// Needs a QCoreApplication on this thread: the end of the run arrives through its event loop.
// Installs handlers for SIGINT and SIGTERM that ask the run to stop.
int RunBatch(const TBatchOptions& Options);

// The --json line of a photograph (without the line end). Error empty: "error" is null.
QByteArray JsonLine(const TTooth& Tooth, const QString& Error);
// The --json line of a file that could not be read as a photograph: the same keys, everything
// not known from its name null.
QByteArray UnreadableJsonLine(const QString& File, int32_t Tooth, const QString& Name, int32_t Time,
                              const QString& Error);
