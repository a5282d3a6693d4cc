#include "TTeeth.h"
#include "ToothFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

// Re-opening decodes nothing whose files the thumbnail cache knows, and a cached photograph is the
// same as a decoded one; a changed bitmap or result file, or a damaged entry, is read from its files.
TEST_F(TTeethTest, ThumbnailCacheServesUnchangedPhotographsOnly)
{
    QTemporaryDir cacheDir;
    TTooth::UseThumbnailCache(std::make_shared<TThumbnailCache>(cacheDir.path()));
    struct TNoCache {
        ~TNoCache() { TTooth::UseThumbnailCache(nullptr); }
    } noCache;
    // A green disk with a red patch, 40 x 30, shifted by dx.
    auto photo = [&](const QString& name, int32_t dx) {
        TIntVector colours(40 * 30, 0x100804);
        for (int32_t y = 0; y < 30; ++y)
            for (int32_t x = 0; x < 40; ++x)
                if ((x - 20 - dx) * (x - 20 - dx) + (y - 15) * (y - 15) < 100)
                    colours[size_t(x + 40 * y)] = x > 22 + dx ? 0xD04020 : 0x30D040;
        QDir(Dir.path()).mkpath("v");
        return WriteBitmap("v/" + name, 40, 30, colours);
    };
    for (const char* n : {"A11000.bmp", "A11001.bmp", "A21000.bmp"})
        TTooth(photo(n, n[5] - '0'), 11).DoSuperpixel(30, 20, 0.5, 0);

    auto open = [&] {
        auto study = std::make_unique<TTeeth>(2);
        EXPECT_TRUE(study->LoadFolder(Dir.path()).empty());
        return study;
    };
    auto summary = [](const TTooth& t) {
        return QString("%1 %2 %3 %4 %5 %6 %7").arg(t.numlabels).arg(t.RArea).arg(t.GArea).arg(t.BGThreshold)
            .arg(t.Width()).arg(t.Height()).arg(t.StatNote);
    };
    const auto first = open(); // decodes and fills the cache
    TTooth::ResetPeakLoaded();
    const auto again = open();
    EXPECT_EQ(TTooth::PeakLoadedPhotographs(), 0) << "nothing decoded";
    for (int32_t s = 0; s < 2; ++s)
        for (int32_t i = 0; i < (*first)[s]->Count(); ++i) {
            const TTooth& a = *(*first)[s]->operator[](i);
            const TTooth& b = *(*again)[s]->operator[](i);
            EXPECT_EQ(summary(b), summary(a));
            EXPECT_EQ(b.Thumbnail(512), a.Thumbnail(512));
            EXPECT_EQ(b.Done(), true);
        }

    // Damaged entries (cut short) are passed over and replaced.
    for (const QFileInfo& e : QDir(cacheDir.path()).entryInfoList({"*.entry"}, QDir::Files)) {
        QFile f(e.filePath());
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.resize(e.size() / 2);
    }
    const auto repaired = open();
    EXPECT_EQ(summary(*repaired->GetTooth(0, 1)), summary(*first->GetTooth(0, 1)));
    TTooth::ResetPeakLoaded();
    open();
    EXPECT_EQ(TTooth::PeakLoadedPhotographs(), 0) << "the damaged entries were replaced";

    // The result file rewritten with another threshold; the bitmap retaken (same size, moved disk).
    {
        TTooth t(Path("v/A11000.bmp"), 11);
        t.DoSuperpixel(30, 20, 0.25, 0);
    }
    photo("A21000.bmp", 6);
    const auto reopened = open();
    EXPECT_EQ(reopened->GetTooth(0, 0)->BGThreshold, 0.25) << "the new result file was read";
    const TTooth* retaken = reopened->GetTooth(1, 0);
    EXPECT_FALSE(retaken->Done()) << "old results do not describe a retaken photograph";
    EXPECT_FALSE(retaken->StatNote.isEmpty());
    EXPECT_EQ(summary(*reopened->GetTooth(0, 1)), summary(*first->GetTooth(0, 1)));
}
