#include "Streams.h"
#include "ToothFixture.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <cstring>
#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

template <typename T> T At(const QByteArray& b, qsizetype offset)
{
    T v;
    std::memcpy(&v, b.constData() + offset, sizeof v);
    return v;
}

template <typename T> void Put(QByteArray& b, qsizetype offset, T v)
{
    std::memcpy(b.data() + offset, &v, sizeof v);
}

// Every field the file carries, for comparing two photographs.
void ExpectSameState(const TTooth& a, const TTooth& b)
{
    EXPECT_EQ(a.DisableMask, b.DisableMask);
    EXPECT_EQ(a.labels, b.labels);
    EXPECT_EQ(a.Dirty, b.Dirty);
    EXPECT_EQ(a.Mask, b.Mask);
    EXPECT_EQ(a.numlabels, b.numlabels);
    EXPECT_EQ(a.SPnumber, b.SPnumber);
    ASSERT_EQ(a.SPList.size(), b.SPList.size());
    for (size_t i = 0; i < a.SPList.size(); ++i) {
        const TSuperPixel &x = a.SPList[i], &y = b.SPList[i];
        EXPECT_EQ((std::array{x.Red, x.Green, x.Blue, x.Kind, x.Area, x.MaskedArea, int32_t(x.Fixed)}),
                  (std::array{y.Red, y.Green, y.Blue, y.Kind, y.Area, y.MaskedArea, int32_t(y.Fixed)}));
    }
    EXPECT_EQ(std::memcmp(&a.TransPars, &b.TransPars, sizeof(TTransPars)), 0);
    EXPECT_EQ(std::memcmp(&a.NELMPars, &b.NELMPars, sizeof(TTransPars)), 0);
    EXPECT_EQ(a.NelmDone, b.NelmDone);
    for (auto [x, y] : {std::pair{a.Compactness, b.Compactness}, {a.BGThreshold, b.BGThreshold},
                        {a.RGThreshold, b.RGThreshold}, {a.Cleanliness, b.Cleanliness},
                        {a.RArea, b.RArea}, {a.GArea, b.GArea}})
        EXPECT_EQ(std::memcmp(&x, &y, 8), 0);
    EXPECT_EQ(a.MaxIntensity, b.MaxIntensity);
}

} // namespace

class TToothFileTest : public ToothFixture {
protected:
    // A 100 x 50 photograph with 3 superpixels in column bands, classified and saved, no mask.
    std::unique_ptr<TTooth> Saved()
    {
        auto t = Segmented(100, 50, Columns(100, 50, {0, 30, 60, 100}), {0x00C800, 0xC80000, 0x101010});
        t->SPnumber = 400;
        t->Compactness = 20;
        t->Cleanliness = 0.125;
        t->TransPars.Init(0.5, 1.25, -2, 1.01, 0.99, 1.5);
        t->TransPars.cosa = 0.25; // stored as is, not recomputed from the angle
        t->NELMPars.Init(-3, 4, 5, 1, 1, 0.75);
        t->NelmDone = true;
        t->SetSP(2, kGreen);
        t->Appraise();
        return t;
    }
};

TEST_F(TToothFileTest, LayoutIsPackedLittleEndianVersionSix)
{
    auto t = Saved();
    const QByteArray b = ReadAll(t->StatFileName());
    ASSERT_EQ(b.size(), 40290);
    const qsizetype n = 5000;
    EXPECT_EQ(At<int32_t>(b, 0), 6);
    EXPECT_EQ(At<uint8_t>(b, 4), 0);                            // DisableMask
    EXPECT_EQ(At<int32_t>(b, 5), n);                            // labels count
    EXPECT_EQ(At<int32_t>(b, 9 + 4 * 45), 1);                   // label of pixel 45
    EXPECT_EQ(At<int32_t>(b, 9 + 4 * n), n);                    // Dirty count
    EXPECT_EQ(At<int32_t>(b, 13 + 4 * n + 4 * 99), kGreen);     // class of pixel 99 (fixed green)
    const qsizetype mask = 13 + 8 * n;
    EXPECT_EQ(At<int32_t>(b, mask), 0);                         // empty mask
    EXPECT_EQ(At<int32_t>(b, mask + 4), 3);                     // numlabels
    EXPECT_EQ(At<int32_t>(b, mask + 8), 400);                   // SPnumber
    const qsizetype sp = mask + 12;
    EXPECT_EQ(At<int32_t>(b, sp + 4), 200);                     // superpixel 0: Green mean
    EXPECT_EQ(At<int32_t>(b, sp + 20), 1500);                   // its Area
    EXPECT_EQ(At<uint8_t>(b, sp + 2 * 28 + 12), 1);             // superpixel 2: Fixed
    EXPECT_EQ(At<uint8_t>(b, sp + 2 * 28 + 13) | At<uint8_t>(b, sp + 2 * 28 + 14) | At<uint8_t>(b, sp + 2 * 28 + 15), 0);
    EXPECT_EQ(At<int32_t>(b, sp + 2 * 28 + 16), kGreen);        // its Kind
    const qsizetype trans = sp + 3 * 28;
    EXPECT_EQ(At<double>(b, trans), 0.25);                      // cosa as stored
    EXPECT_EQ(At<double>(b, trans + 16), 0.5);                  // fAngle
    EXPECT_EQ(At<double>(b, trans + 56), 1.5);                  // Coeff
    EXPECT_EQ(At<double>(b, trans + 64 + 24), 4.0);             // NELMPars.Shiftx
    EXPECT_EQ(At<uint8_t>(b, trans + 128), 1);                  // NelmDone
    EXPECT_EQ(At<double>(b, trans + 129), 20.0);                // Compactness
    EXPECT_EQ(At<double>(b, trans + 129 + 24), 0.125);          // Cleanliness
    EXPECT_EQ(At<double>(b, trans + 129 + 32), t->RArea);
    EXPECT_EQ(At<int32_t>(b, trans + 129 + 48), 200);           // MaxIntensity, the last field
    EXPECT_EQ(trans + 129 + 52, b.size());
}

TEST_F(TToothFileTest, WrittenAndReadBackBitForBit)
{
    auto t = Saved();
    t->Mask.assign(t->labels.size(), 0);
    std::fill(t->Mask.begin(), t->Mask.begin() + 700, 1);
    t->DisableMask = true;
    t->Appraise();
    EXPECT_EQ(ReadAll(t->StatFileName()).size(), 40290 + 4 * 5000);

    TTooth back(t->fname, 11);
    ExpectSameState(*t, back);
    TIntImage expected;
    back.Raw.Transform(back.TransPars, expected);
    EXPECT_EQ(back.Image.img, expected.img) << "rendered through the stored transform";
    EXPECT_NE(back.Contour.img, back.Image.img) << "stored outlines drawn";
    EXPECT_EQ(back.Time, 0.0);
}

TEST_F(TToothFileTest, DamagedFilesLeaveThePhotographAsCreated)
{
    // A small photograph so that every cut point can be tried.
    auto t = Segmented(6, 4, Columns(6, 4, {0, 2, 4, 6}), {0x00C800, 0xC80000, 0x00A000});
    t->Mask.assign(24, 1);
    t->Appraise();
    const QByteArray good = ReadAll(t->StatFileName());
    ASSERT_EQ(good.size(), 206 + 8 * 24 + 4 * 24 + 28 * 3);
    TTooth pristine(WriteBitmap("B11000.bmp", 6, 4, TIntVector(24, 0)), 11);

    auto expectRejected = [&](const QByteArray& bytes, const std::string& why) {
        WriteAll(t->StatFileName(), bytes);
        TTooth probe(t->fname, 11);
        EXPECT_FALSE(probe.Done()) << why;
        ExpectSameState(probe, pristine);
        EXPECT_EQ(probe.Image.img, probe.Raw.img) << why;
        // An existing photograph keeps its state when a reload fails.
        EXPECT_FALSE(t->LoadStat()) << why;
        EXPECT_TRUE(t->Done()) << why;
    };
    for (qsizetype cut = 0; cut < good.size(); ++cut)
        expectRejected(good.left(cut), "cut at " + std::to_string(cut));

    // Offsets in the 24-pixel file: first label, first class, mask count, numlabels.
    const qsizetype labels = 9, dirty = 13 + 4 * 24, mask = 13 + 8 * 24, numlabels = mask + 4 + 4 * 24;
    struct Patch {
        const char* why;
        qsizetype offset;
        int32_t value;
    };
    for (const Patch p : {Patch{"version 5", 0, 5}, Patch{"label above numlabels", labels + 8, 3},
                          Patch{"negative label", labels, -1}, Patch{"class 3", dirty + 4, 3},
                          Patch{"numlabels 0 with labels", numlabels, 0},
                          Patch{"numlabels too big", numlabels, 1000000},
                          Patch{"superpixel kind 7", numlabels + 8 + 16, 7},
                          Patch{"huge vector count", 5, 1000000}, Patch{"negative vector count", 5, -4}}) {
        QByteArray bad = good;
        Put<int32_t>(bad, p.offset, p.value);
        expectRejected(bad, p.why);
    }

    // Vectors of another photograph's size.
    auto vector = [](int32_t n) {
        TStreamOut s;
        StreamWriteIntVector(s, TIntVector(size_t(n), 0));
        return QByteArray(s.Bytes.data(), qsizetype(s.Bytes.size()));
    };
    expectRejected(good.left(5) + vector(12) + vector(12) + good.mid(mask), "labels of 12 pixels");
    expectRejected(good.left(mask) + vector(5) + good.mid(mask + 4 + 4 * 24), "mask of 5 pixels");

    WriteAll(t->StatFileName(), good);
    EXPECT_TRUE(TTooth(t->fname, 11).Done()) << "the exact size loads";
}

TEST_F(TToothFileTest, FailedSaveKeepsThePreviousFile)
{
    auto t = Saved();
    const QByteArray before = ReadAll(t->StatFileName());
    // A file-size limit makes the write fail part-way, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    t->SetSP(0, kRed);
    t->Appraise();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ReadAll(t->StatFileName()), before);
    const QStringList left = QDir(Dir.path()).entryList(QDir::Files);
    EXPECT_EQ(left, (QStringList{"A11000.bmp", "A11000.sp"})) << "no temporary file left behind";
}

TEST(StreamsTest, ReadErrorsLeaveTheDestinationUnchanged)
{
    const char bytes[] = {1, 0, 0};
    TStreamIn s(bytes, 3);
    int32_t v = 42;
    EXPECT_THROW(StreamReadInt(s, v), TOrvixError);
    EXPECT_EQ(v, 42);
    TIntVector vec{7};
    const char count[] = {2, 0, 0, 0, 1, 0, 0, 0};
    TStreamIn t(count, sizeof count);
    try {
        StreamReadIntVector(t, vec);
        FAIL();
    } catch (const TOrvixError& e) {
        EXPECT_STREQ(e.what(), "Stream Read Error");
    }
    EXPECT_EQ(vec, TIntVector{7});
}

// Stored means were not checked: 0x7FFFFFFF overflowed the intensity view, and any mean outside a
// byte gave colours and classes no photograph can have.
TEST_F(TToothFileTest, StoredMeansOutsideZeroTo255MakeTheFileDamaged)
{
    auto t = Saved();
    const QByteArray good = ReadAll(t->StatFileName());
    const qsizetype firstRecord = 13 + 8 * 5000 + 12;
    for (const auto& [field, value] : {std::pair{0, 0x7FFFFFFF}, {4, 256}, {8, -1}}) {
        QByteArray bad = good;
        Put<int32_t>(bad, firstRecord + 28 + field, value);
        WriteAll(t->StatFileName(), bad);
        EXPECT_FALSE(TTooth(t->fname, 11).Done()) << "offset " << field << " value " << value;
    }
    WriteAll(t->StatFileName(), good);
    EXPECT_TRUE(TTooth(t->fname, 11).Done());
}
