#include "DefaultIniFile.h"
#include "EventLoopWait.h"
#include "TTeeth.h"
#include "ToothFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <array>
#include <cmath>

class TTeethBatchTest : public ToothFixture {
protected:
    std::vector<bool> Ended; // Success of every completion callback

    void SetUp() override
    {
        DefaultSPNumber = 60;
        DefaultCompactness = 20;
        DefaultBGThreshold = 0.5;
        DefaultRGThreshold = 0;
    }

    // A green disk with a red patch on a dark background, shifted by dx pixels; black = all dark.
    void Photo(const QString& name, int32_t dx = 0, bool black = false, int32_t w = 96, int32_t h = 72)
    {
        QDir(Dir.path()).mkpath("v");
        TIntVector colours(size_t(w * h), black ? 0 : 0x100804);
        if (!black)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const double rx = x - w / 2.0 - dx, ry = y - h / 2.0;
                    if (rx * rx + ry * ry < (h * 0.35) * (h * 0.35))
                        colours[size_t(x + y * w)] = rx > h * 0.1 && ry < 0 ? 0xD04020 : 0x30D040;
                }
        WriteBitmap("v/" + name, w, h, colours);
    }

    std::unique_ptr<TTeeth> Study(int32_t threads)
    {
        auto study = std::make_unique<TTeeth>(threads);
        EXPECT_TRUE(study->LoadFolder(Dir.path()).empty());
        return study;
    }

    bool Start(TTeeth& study, bool onlyNew, bool align)
    {
        return study.RecalculateDefault(onlyNew, align, false, [this](bool s) { Ended.push_back(s); });
    }

    int32_t DoneCount(const TTeeth& study)
    {
        int32_t n = 0;
        for (const auto& s : study)
            for (const auto& t : *s)
                n += t->Done();
        return n;
    }
};

TEST_F(TTeethBatchTest, CalculateNewTwiceThenAlignNew)
{
    for (const char* n : {"A11000.bmp", "A11001.bmp", "A21000.bmp", "A21002.bmp", "A31000.bmp"})
        Photo(n, n[5] == '0' ? 0 : 6);
    auto study = Study(2);
    ASSERT_TRUE(Start(*study, true, false));
    EXPECT_FALSE(Start(*study, true, false)) << "a second start during a run is refused";
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    EXPECT_EQ(Ended, std::vector<bool>{true});
    EXPECT_EQ(study->CalcTotal, 5);
    EXPECT_EQ(study->CalcCount, 5);
    EXPECT_EQ(DoneCount(*study), 5);
    EXPECT_TRUE(QFile::exists(Path("v/A21002.sp")));

    EXPECT_FALSE(Start(*study, true, false)) << "nothing new: nothing starts";
    EXPECT_EQ(study->CalcTotal, 5);

    // Align NEW: every photograph qualifies (none aligned); first photographs are only marked.
    ASSERT_TRUE(Start(*study, true, true));
    ASSERT_TRUE(WaitFor([&] { return Ended.size() == 2; }));
    EXPECT_TRUE(Ended[1]);
    EXPECT_EQ(study->CalcTotal, 5);
    for (const auto& s : *study)
        for (const auto& t : *s) {
            EXPECT_TRUE(t->NelmDone);
            if (t.get() == s->First()) {
                EXPECT_TRUE(t->TransPars.IsIdentity());
                EXPECT_TRUE(std::isnan(TTeeth::AlignQuality(*t)));
            } else {
                EXPECT_NEAR(t->TransPars.Shiftx, 6, 1.5) << "fitted onto the first photograph";
                EXPECT_GT(TTeeth::AlignQuality(*t), 0.9);
            }
        }
    QCoreApplication::processEvents();
    EXPECT_EQ(Ended.size(), 2u) << "no further callback";
}

TEST_F(TTeethBatchTest, FailingPhotographIsRecordedAndTheRestGoOn)
{
    for (const char* n : {"A11000.bmp", "A11002.bmp", "A11003.bmp"})
        Photo(n);
    Photo("A11001.bmp", 0, true); // black in its centre: cannot be aligned
    auto study = Study(1);        // one worker: the failure sits in the middle of its block
    ASSERT_TRUE(Start(*study, false, true));
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    EXPECT_EQ(Ended, std::vector<bool>{false});
    const auto failures = study->Failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].File, Path("v/A11001.bmp"));
    EXPECT_TRUE(failures[0].Message.contains("black")) << failures[0].Message.toStdString();
    EXPECT_EQ(DoneCount(*study), 3);
    EXPECT_FALSE(study->GetTooth(0, 1)->NelmDone);
    EXPECT_TRUE(study->GetTooth(0, 3)->Done());
}

// A black photograph had threshold 0, so every superpixel passed as clean tooth: 100 % area.
TEST_F(TTeethBatchTest, BlackPhotographMeasuresNoToothAndIsAFailure)
{
    Photo("A11000.bmp");
    Photo("A11001.bmp", 0, true);
    auto study = Study(1);
    ASSERT_TRUE(Start(*study, false, false));
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    EXPECT_EQ(Ended, std::vector<bool>{false});
    const auto failures = study->Failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].File, Path("v/A11001.bmp"));
    EXPECT_EQ(failures[0].Message, "the photograph is black");
    EXPECT_EQ(study->GetTooth(0, 1)->Area(), 0.0);
    EXPECT_GT(study->GetTooth(0, 0)->Area(), 10.0);
}

TEST_F(TTeethBatchTest, MoreWorkersThanPhotographs)
{
    for (const char* n : {"A11000.bmp", "A12000.bmp", "A13000.bmp"})
        Photo(n);
    auto study = Study(8);
    ASSERT_TRUE(Start(*study, false, false));
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    EXPECT_EQ(Ended, std::vector<bool>{true});
    EXPECT_EQ(study->CalcCount, 3);
    EXPECT_EQ(DoneCount(*study), 3);
}

TEST_F(TTeethBatchTest, StopAndDestructionDuringARun)
{
    for (int i = 0; i < 30; ++i)
        Photo("A" + QString::number(10 + i) + "000.bmp", 0, false, 240, 180);
    auto study = Study(2);
    ASSERT_TRUE(Start(*study, false, false));
    study->AbortCalc();
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    EXPECT_EQ(Ended, std::vector<bool>{false});
    EXPECT_LE(DoneCount(*study), study->CalcCount + 2) << "at most one more photograph per worker";
    EXPECT_LT(DoneCount(*study), 30);

    // Destroying the study mid-run waits only for the photographs in hand.
    ASSERT_TRUE(Start(*study, true, false));
    study.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(Ended.size(), 1u) << "the end of a destroyed study's run is not delivered";
}

// "Realign ALL" gives aligned photographs their stored alignment back; --refit fits them again.
TEST_F(TTeethBatchTest, RefitFitsAlignedPhotographsAgain)
{
    Photo("A11000.bmp");
    Photo("A11001.bmp", 6);
    auto study = Study(1);
    TTooth* later = study->GetTooth(0, 1);
    later->NelmDone = true; // as if aligned earlier, badly
    ASSERT_TRUE(Start(*study, false, true));
    ASSERT_TRUE(WaitFor([&] { return Ended.size() == 1; }));
    EXPECT_EQ(later->TransPars.Shiftx, 0) << "the stored alignment, not fitted";

    ASSERT_TRUE(study->RecalculateDefault(false, true, false, [this](bool s) { Ended.push_back(s); }, true));
    ASSERT_TRUE(WaitFor([&] { return Ended.size() == 2; }));
    EXPECT_EQ(Ended, (std::vector<bool>{true, true}));
    EXPECT_NEAR(later->TransPars.Shiftx, 6, 1.5) << "fitted again";
    EXPECT_TRUE(later->NelmDone);
    EXPECT_TRUE(study->GetTooth(0, 0)->TransPars.IsIdentity()) << "the first photograph is only marked";
}

// Pixel data live while leased: a released photograph comes back from its files exactly as it was,
// and a batch holds at most its photograph and that photograph's reference per worker.
TEST_F(TTeethBatchTest, BatchHoldsAtMostTwoPhotographsPerWorkerAndReleasedOnesComeBackTheSame)
{
    for (int32_t tooth = 1; tooth <= 4; ++tooth)
        for (int32_t time = 0; time < 3; ++time)
            Photo(QString("A%1%2.bmp").arg(tooth * 10 + 1).arg(time, 3, 10, QChar('0')), 2 * time);
    auto study = Study(2);
    EXPECT_EQ(TTooth::LoadedPhotographs(), 0) << "the intake lets every photograph's pixels go";
    TTooth::ResetPeakLoaded();
    ASSERT_TRUE(Start(*study, false, true));
    ASSERT_TRUE(WaitFor([&] { return !Ended.empty(); }));
    ASSERT_TRUE(Ended[0]);
    EXPECT_LE(TTooth::PeakLoadedPhotographs(), 2 * study->NumberOfThreads());
    EXPECT_GE(TTooth::PeakLoadedPhotographs(), 2) << "a later photograph and its reference were both in memory";
    EXPECT_EQ(TTooth::LoadedPhotographs(), 0);

    TTooth* later = study->GetTooth(1, 2);
    ASSERT_TRUE(later && later->Done() && later->NelmDone);
    EXPECT_FALSE(later->PixelsLoaded());
    const double quality = TTeeth::AlignQuality(*later);
    EXPECT_FALSE(std::isnan(quality)) << "known from the alignment, without loading anything";
    EXPECT_EQ(TTooth::LoadedPhotographs(), 0);
    TIntVector labels, dirty;
    TSPVector spList;
    std::array<double, 5> params{};
    TTransPars pars;
    QImage contour;
    for (int round = 0; round < 2; ++round) {
        const TPixelLease lease = later->Lease();
        ASSERT_TRUE(later->PixelsLoaded());
        if (round == 0) {
            labels = later->labels;
            dirty = later->Dirty;
            spList = later->SPList;
            pars = later->TransPars;
            for (int32_t p = 0; p < 5; ++p)
                params[size_t(p)] = later->GetParam(p);
            later->Contour.GetBitmap(contour);
            ASSERT_FALSE(labels.empty());
        } else {
            EXPECT_EQ(later->labels, labels);
            EXPECT_EQ(later->Dirty, dirty);
            EXPECT_EQ(later->SPList.size(), spList.size());
            for (size_t k = 0; k < spList.size(); ++k)
                EXPECT_EQ(later->SPList[k].Kind, spList[k].Kind);
            EXPECT_TRUE(SameTransPars(later->TransPars, pars));
            for (int32_t p = 0; p < 5; ++p)
                EXPECT_EQ(later->GetParam(p), params[size_t(p)]) << p;
            QImage again;
            later->Contour.GetBitmap(again);
            EXPECT_EQ(again, contour);
        }
        if (round == 0) {
            // The reference is read through its own lease.
            const TPixelLease reference = later->Parent->First()->Lease();
            EXPECT_EQ(later->AlignmentQuality(*later->Parent->First()), quality);
        }
    }
    EXPECT_FALSE(later->PixelsLoaded());
    EXPECT_EQ(later->Thumbnail(512).size(), contour.size()) << "the thumbnail stays";

    // A transform moved by hand (which, as in the editor, discards the segmentation) keeps the
    // pixels until it is saved by a recalculation.
    {
        const TPixelLease lease = later->Lease();
        later->TransPars.Shiftx += 3;
        later->Raw.Transform(later->TransPars, later->Image);
        later->DeleteSuperPixels();
    }
    EXPECT_TRUE(later->PixelsLoaded());
    EXPECT_TRUE(later->Unsaved());
    {
        const TPixelLease lease = later->Lease();
        later->DoSuperpixel();
    }
    EXPECT_FALSE(later->PixelsLoaded());

    // A photograph whose result file holds a mask lets its pixels go like any other.
    {
        const TPixelLease lease = later->Lease();
        later->SetMask();
    }
    EXPECT_FALSE(later->PixelsLoaded());
    {
        const TPixelLease lease = later->Lease();
        EXPECT_TRUE(later->HasMask());
    }
    EXPECT_FALSE(later->PixelsLoaded()) << "reloaded with its mask, nothing unsaved";
    EXPECT_TRUE(later->HasMask());
    const auto reopened = Study(2);
    EXPECT_EQ(TTooth::LoadedPhotographs(), 0) << "taken in with its mask, nothing unsaved";
}
