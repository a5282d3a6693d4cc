// orvix-batch: the batch commands of the main window from the command line.
#include "BatchRun.h"
#include "Options.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TBatchOptions options;
    QString error;
    switch (ParseOptions(app.arguments(), options, error)) {
    case TParseResult::Help:
        std::fputs(qPrintable(UsageText()), stdout);
        return 0;
    case TParseResult::Error:
        std::fprintf(stderr, "orvix-batch: %s\nTry 'orvix-batch --help'.\n", qPrintable(error));
        return 2;
    case TParseResult::Run:
        break;
    }
    return RunBatch(options);
}
