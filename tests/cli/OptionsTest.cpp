#include "Options.h"

#include <gtest/gtest.h>

namespace {

TParseResult Parse(const QStringList& args, TBatchOptions& o, QString& error)
{
    return ParseOptions(QStringList{"orvix-batch"} + args, o, error);
}

} // namespace

TEST(OptionsTest, CommandsParametersAndOutputs)
{
    TBatchOptions o;
    QString error;
    ASSERT_EQ(Parse({"study"}, o, error), TParseResult::Run) << error.toStdString();
    EXPECT_EQ(o.StudyDir, "study");
    EXPECT_FALSE(o.All || o.Align || o.Deform || o.Json || o.Quiet);
    EXPECT_FALSE(o.SPNumber || o.Compactness || o.BGThreshold || o.RGThreshold || o.Dog);
    EXPECT_EQ(o.Threads, 0);
    EXPECT_TRUE(o.ExportFile.isEmpty());

    ASSERT_EQ(Parse({"--all", "--align", "--deform", "--sp", "250", "--compactness=12.5", "--bg", "0.4", "--rg",
                     "-0.25", "--species", "Cat", "--threads", "3", "--export", "out.XLSX", "--json", "--quiet", "dir"},
                    o, error),
              TParseResult::Run)
        << error.toStdString();
    EXPECT_TRUE(o.All && o.Align && o.Deform && o.Json && o.Quiet);
    EXPECT_EQ(o.SPNumber, 250);
    EXPECT_EQ(o.Compactness, 12.5);
    EXPECT_EQ(o.BGThreshold, 0.4);
    EXPECT_EQ(o.RGThreshold, -0.25);
    EXPECT_EQ(o.Dog, false);
    EXPECT_EQ(o.Threads, 3);
    EXPECT_EQ(o.ExportFile, "out.XLSX");
    EXPECT_EQ(o.StudyDir, "dir");

    ASSERT_EQ(Parse({"--all", "--refit", "--sp", "100000", "--compactness", "1000", "--bg", "1", "--rg", "-1", "d"}, o,
                    error),
              TParseResult::Run)
        << error.toStdString();
    EXPECT_TRUE(o.Refit && o.Align) << "--refit implies --align";

    EXPECT_EQ(Parse({"--help"}, o, error), TParseResult::Help);
    EXPECT_EQ(Parse({"-h", "study"}, o, error), TParseResult::Help);
}

TEST(OptionsTest, BadArgumentsAreRefusedWithAReason)
{
    const struct {
        QStringList args;
        const char* reason; // a fragment of the message
    } cases[] = {
        {{}, "no study folder"},
        {{"a", "b"}, "more than one"},
        {{"--frobnicate", "a"}, "frobnicate"},
        {{"a", "--sp"}, "sp"},
        {{"--sp", "0", "a"}, "--sp"},
        {{"--sp", "12x", "a"}, "--sp"},
        {{"--compactness", "0", "a"}, "--compactness"},
        {{"--compactness", "nan", "a"}, "--compactness"},
        {{"--bg", "0,5", "a"}, "--bg"},
        {{"--rg", "inf", "a"}, "--rg"},
        {{"--species", "horse", "a"}, "--species"},
        {{"--threads", "0", "a"}, "--threads"},
        {{"--export", "out.ods", "a"}, "--export"},
        {{"--export", "out", "a"}, "--export"},
        {{"--sp", "100001", "a"}, "--sp wants a whole number from 1 to 100000"},
        {{"--compactness", "1000.5", "a"}, "--compactness wants a number above 0 and at most 1000"},
        {{"--bg", "1.01", "a"}, "--bg wants a number from 0 to 1"},
        {{"--bg", "-0.01", "a"}, "--bg"},
        {{"--bg", "1e8", "a"}, "--bg"},
        {{"--rg", "-1.5", "a"}, "--rg wants a number from -1 to 1"},
    };
    for (const auto& c : cases) {
        TBatchOptions o;
        QString error;
        EXPECT_EQ(Parse(c.args, o, error), TParseResult::Error) << c.args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
    }
}
