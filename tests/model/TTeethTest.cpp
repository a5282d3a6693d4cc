#include "TTeeth.h"
#include "ToothFixture.h"

#include <QDir>
#include <QFile>

class TTeethTest : public ToothFixture {
protected:
    // A 2 x 2 bitmap at sub/name.
    QString Photo(const QString& sub, const QString& name)
    {
        QDir(Dir.path()).mkpath(sub);
        return WriteBitmap(sub + "/" + name, 2, 2, {0x00FF00, 0, 0, 0});
    }

    std::vector<std::pair<int32_t, int32_t>> Layout(const TTeeth& study)
    {
        std::vector<std::pair<int32_t, int32_t>> ids;
        for (const auto& s : study)
            for (const auto& t : *s)
                ids.emplace_back(t->ID, t->TimePoint);
        return ids;
    }
};

TEST(ToothFileNameTest, NumberAndTimeFromFixedPositions)
{
    struct Case {
        const char* name;
        bool ok;
        int32_t id, time;
    };
    for (const Case c : {Case{"A12003.bmp", true, 12, 3}, Case{"A12003 left.bmp", true, 12, 3},
                         Case{"x07000.bmp", true, 7, 0}, Case{"A99000.bmp", true, 99, 0},
                         Case{"A1203.bmp", false, 0, 0}, Case{"A12xyz.bmp", false, 0, 0}, Case{"A1.bmp", false, 0, 0},
                         Case{"A12 3.bmp", false, 0, 0}, Case{"A 2003.bmp", false, 0, 0}, Case{"", false, 0, 0}}) {
        int32_t id = -1, time = -1;
        EXPECT_EQ(ParseToothFileName(c.name, id, time), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(std::pair(id, time), std::pair(c.id, c.time)) << c.name;
        }
    }
}

TEST_F(TTeethTest, LoadsSubFoldersSortedAndNamed)
{
    for (const char* n : {"A21002.bmp", "A11002.bmp", "A21000.bmp", "A12xyz.bmp", "A99000.bmp"})
        Photo("visit2", n);
    for (const char* n : {"A21001.bmp", "A11000.bmp", "B11002.bmp"})
        Photo("visit1", n);
    WriteBitmap("A13000.bmp", 2, 2, {0, 0, 0, 0}); // directly in the study folder: not taken in
    QDir(Dir.path()).mkpath("visit1/deeper");
    WriteBitmap("visit1/deeper/A14000.bmp", 2, 2, {0, 0, 0, 0});

    TTeeth study(1);
    int32_t lastDone = 0, lastTotal = 0;
    const auto failures = study.LoadFolder(Dir.path(), [&](int32_t done, int32_t total) {
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(std::pair(lastDone, lastTotal), std::pair(8, 8)) << "every .bmp file counts, named or not";
    EXPECT_EQ(Layout(study), (std::vector<std::pair<int32_t, int32_t>>{
                                 {11, 0}, {11, 2}, {11, 2}, {21, 0}, {21, 1}, {21, 2}, {99, 0}}));
    EXPECT_EQ(study.psina, QDir(Dir.path()).dirName());
    EXPECT_EQ(study.MaxTimeCount(), 3);
    EXPECT_EQ(study.GetTooth(0, 1), nullptr);
    EXPECT_EQ(study.GetTooth(1, 1)->ID, 21);
    EXPECT_EQ(study.GetTooth(5, 0), nullptr);
    EXPECT_EQ(study.GetTooth(-1, 0), nullptr);
    const TTooth* tooth21 = study.GetTooth(1, 2);
    EXPECT_EQ(study.GetToothIndex(tooth21), 1);
    EXPECT_EQ(tooth21->Parent, study[1]);
    EXPECT_EQ(study.ByID(99), study[2]);
    EXPECT_EQ(study.ByID(12), nullptr);
    EXPECT_EQ(study[0]->Name(), "RmaxI2");
    EXPECT_EQ(study[2]->Name(), "");
    EXPECT_TRUE(study.K9);

    TTeeth empty(1);
    EXPECT_EQ(empty.MaxTimeCount(), 0);
    EXPECT_EQ(empty.GetTooth(0, 0), nullptr);
    EXPECT_EQ(empty.GetToothIndex(tooth21), -1);
}

TEST_F(TTeethTest, TimePointsNeedNotStartAtZero)
{
    Photo("v", "A11001.bmp");
    Photo("v", "A11003.bmp");
    TTeeth study(1);
    study.LoadFolder(Dir.path());
    EXPECT_EQ(study.MaxTimeCount(), 3);
    EXPECT_EQ(study.LastTimePoint(), 3);
}

TEST_F(TTeethTest, UnreadableBitmapIsSkippedAndReported)
{
    Photo("v", "A11000.bmp");
    Photo("v", "A21001.bmp");
    QFile bad(Path("v/A31000.bmp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a bitmap");
    bad.close();
    TTeeth study(1);
    const auto failures = study.LoadFolder(Dir.path());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].File, Path("v/A31000.bmp"));
    EXPECT_TRUE(failures[0].Message.contains("A31000.bmp"));
    EXPECT_EQ(Layout(study), (std::vector<std::pair<int32_t, int32_t>>{{11, 0}, {21, 1}}))
        << "no empty series is left for the failed file, and the rest is sorted";
}

TEST_F(TTeethTest, StopEndsTheIntakeEarly)
{
    for (const char* n : {"A11000.bmp", "A12000.bmp", "A13000.bmp"})
        Photo("v", n);
    TTeeth study(1);
    std::atomic<bool> stop{false};
    study.LoadFolder(Dir.path(), [&](int32_t done, int32_t) { stop = done == 2; }, &stop);
    EXPECT_EQ(study.PhotographCount(), 2);
}

TEST_F(TTeethTest, SpeciesFollowsTheMarkerFile)
{
    for (const char* n : {"A11000.bmp", "A31000.bmp", "A32000.bmp", "A48000.bmp"})
        Photo("v", n);
    TTeeth study(1);
    study.LoadFolder(Dir.path());
    auto names = [&] {
        QStringList n;
        for (const auto& s : study)
            n << s->Name();
        return n;
    };
    EXPECT_EQ(names(), (QStringList{"RmaxI2", "LmanI2", "LmanI3", "RmanM1"}));
    study.SetSpecies(false);
    EXPECT_TRUE(QFile::exists(Path("feline")));
    EXPECT_EQ(names(), (QStringList{"RmaxI1", "", "LmanI1", "RmanM1"}));

    TTeeth reopened(1);
    reopened.LoadFolder(Dir.path());
    EXPECT_FALSE(reopened.K9) << "a folder with the marker is a cat study";
    reopened.SetSpecies(true);
    EXPECT_FALSE(QFile::exists(Path("feline")));
}

// Only characters 2 to 6 of a name are read, so "P11000 (2).bmp" or "P11000_old.bmp" was a second
// photograph of tooth 11 at time point 0, and the export showed one of them without a word.
TEST_F(TTeethTest, BackupCopiesAreNamedAndTheFirstInListingOrderIsUsed)
{
    for (const char* n : {"P11000_old.bmp", "P11000.bmp", "P11000 (2).bmp", "P11001.bmp", "P21000.bmp"})
        Photo("visit1", n);
    Photo("visit2", "B11001.bmp");
    TTeeth study(1);
    ASSERT_TRUE(study.LoadFolder(Dir.path()).empty());
    const QString v1 = Path("visit1/"), v2 = Path("visit2/");
    EXPECT_EQ(study.IntakeNotes(),
              (QStringList{"tooth 11 at time point 0 has 3 photographs: " + v1 + "P11000 (2).bmp, " + v1 +
                               "P11000.bmp, " + v1 + "P11000_old.bmp; " + v1 + "P11000 (2).bmp is used",
                           "tooth 11 at time point 1 has 2 photographs: " + v1 + "P11001.bmp, " + v2 +
                               "B11001.bmp; " + v1 + "P11001.bmp is used"}));
    EXPECT_EQ(study.GetTooth(0, 0)->fname, v1 + "P11000 (2).bmp");
    EXPECT_EQ(study.GetTooth(0, 1)->fname, v1 + "P11001.bmp");
}

// A retaken photograph's old result file is named at intake; "." as the study folder gave the
// export block the title ".".
TEST_F(TTeethTest, RejectedResultFilesAreNamedAndDotFoldersHaveTheirRealName)
{
    QDir(Dir.path()).mkpath("v/sub");
    auto first = Segmented(4, 2, Columns(4, 2, {0, 2, 4}), {0x00C800, 0xC80000}, "v/A11000.bmp");
    first->Appraise();
    WriteBitmap("v/A11000.bmp", 4, 2, TIntVector(8, 0x202020)); // retaken
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Path("v/sub")));
    TTeeth study(1);
    study.LoadFolder("../..");
    const QString studyName = study.psina;
    study.LoadFolder(".");
    const QString subName = study.psina;
    QDir::setCurrent(saved);
    EXPECT_EQ(studyName, QDir(Dir.path()).dirName());
    EXPECT_EQ(subName, "sub");

    study.LoadFolder(Dir.path());
    ASSERT_EQ(study.PhotographCount(), 1);
    EXPECT_FALSE(study.GetTooth(0, 0)->Done());
    EXPECT_EQ(study.IntakeNotes(),
              QStringList(Path("v/A11000.bmp") + ": results do not match the photograph; it will be recalculated"));
}
