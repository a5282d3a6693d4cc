#include "Streams.h"
#include "ToothFixture.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <cstring>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>

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
        // What a fit leaves: Image rendered through the transform, the table built on it.
        t->Raw.Transform(t->TransPars, t->Image);
        t->BuildSuperPixelTable();
        t->SetSP(2, kGreen);
        t->Appraise();
        return t;
    }

    // A 6 x 4 photograph with 3 superpixels in column bands and a full mask, saved: small enough
    // to try every cut point.
    std::unique_ptr<TTooth> SmallSaved()
    {
        auto t = Segmented(6, 4, Columns(6, 4, {0, 2, 4, 6}), {0x00C800, 0xC80000, 0x00A000});
        t->Mask.assign(24, 1);
        t->Appraise();
        return t;
    }

    // Writes bytes as t's result file: a photograph created on it comes back as if there were no
    // file, and t keeps its state when it reloads.
    void ExpectRejected(TTooth& t, const QByteArray& bytes, const std::string& why)
    {
        if (!fPristine)
            fPristine = std::make_unique<TTooth>(WriteBitmap("B11000.bmp", 6, 4, TIntVector(24, 0)), 11);
        WriteAll(t.StatFileName(), bytes);
        TTooth probe(t.fname, 11);
        EXPECT_FALSE(probe.Done()) << why;
        ExpectSameState(probe, *fPristine);
        EXPECT_EQ(probe.Image.img, probe.Raw.img) << why;
        EXPECT_FALSE(t.LoadStat()) << why;
        EXPECT_TRUE(t.Done()) << why;
    }

private:
    std::unique_ptr<TTooth> fPristine;
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
    EXPECT_EQ(At<int32_t>(b, sp + 4), t->SPList[0].Green);      // superpixel 0: Green mean
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
    EXPECT_EQ(At<int32_t>(b, trans + 129 + 48), t->MaxIntensity); // MaxIntensity, the last field
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
    auto t = SmallSaved();
    const QByteArray good = ReadAll(t->StatFileName());
    ASSERT_EQ(good.size(), 206 + 8 * 24 + 4 * 24 + 28 * 3);
    auto expectRejected = [&](const QByteArray& bytes, const std::string& why) { ExpectRejected(*t, bytes, why); };
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

// A few flipped bytes gave a negative red area and red percentages of -8 % and 116 %; a NaN angle or
// a zero scale rendered the photograph black and it was measured; a background threshold of 1e8
// measured everything as tooth.
TEST_F(TToothFileTest, ImpossibleStoredValuesMakeTheFileDamaged)
{
    auto t = SmallSaved();
    const QByteArray good = ReadAll(t->StatFileName());
    // Offsets in the 24-pixel file with a mask and 3 superpixels.
    const qsizetype sp = 313, trans = sp + 3 * 28, reals = trans + 129, maxIntensity = reals + 48;
    const double nan = std::nan(""), inf = HUGE_VAL;
    const struct {
        const char* why;
        qsizetype offset;
        double value;
    } reals_[] = {
        {"red area negative", reals + 32, -8},          {"red area 116", reals + 32, 116},
        {"green area one pixel off", reals + 40, 100.0 * 15 / 24},
        {"background threshold 7", reals + 8, 7},       {"background threshold 1e8", reals + 8, 1e8},
        {"background threshold NaN", reals + 8, nan},   {"red/green threshold 2", reals + 16, 2},
        {"compactness 0", reals, 0},                    {"cleanliness NaN", reals + 24, nan},
        {"cosine NaN", trans, nan},                     {"angle NaN", trans + 16, nan},
        {"x shift infinite", trans + 24, inf},          {"x scale 0", trans + 40, 0},
        {"y scale NaN", trans + 48, nan},               {"gain infinite", trans + 56, -inf},
        {"alignment's x scale 20", trans + 64 + 40, 20}, {"alignment's y scale 0.05", trans + 64 + 48, 0.05},
    };
    for (const auto& p : reals_) {
        QByteArray bad = good;
        Put<double>(bad, p.offset, p.value);
        ExpectRejected(*t, bad, p.why);
    }
    const struct {
        const char* why;
        qsizetype offset;
        int32_t value;
    } integers[] = {
        {"SPnumber 0", sp - 4, 0},       {"SPnumber 200000", sp - 4, 200000},
        {"MaxIntensity 300", maxIntensity, 300}, {"MaxIntensity not the brightest", maxIntensity, 150},
        {"area of superpixel 0 off", sp + 20, 9},
        {"masked area above the area", sp + 24, 9}, {"masked area negative", sp + 24, -1},
        {"mask value 2", 209, 2},
    };
    for (const auto& p : integers) {
        QByteArray bad = good;
        Put<int32_t>(bad, p.offset, p.value);
        ExpectRejected(*t, bad, p.why);
    }
    for (const double scale : {0.1, 10.0}) {
        QByteArray edge = good;
        Put<double>(edge, trans + 64 + 40, scale);
        WriteAll(t->StatFileName(), edge);
        EXPECT_TRUE(TTooth(t->fname, 11).Done()) << "alignment's x scale " << scale;
    }
}

// A bitmap replaced by another of the same size under the same name was measured with the old
// photograph's results.
TEST_F(TToothFileTest, RetakenPhotographIsNotMeasuredWithTheOldResults)
{
    const TIntVector labels = Columns(100, 50, {0, 30, 60, 100});
    const TIntVector bands = {0x00C800, 0xC80000, 0x101010};
    auto t = Segmented(100, 50, labels, bands);
    t->Appraise();
    const QByteArray saved = ReadAll(t->StatFileName());
    auto photograph = [&](const std::vector<int32_t>& bounds, const TIntVector& colours, int32_t changed) {
        TIntVector pixels(labels.size());
        const TIntVector bandOf = Columns(100, 50, bounds);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = colours[size_t(bandOf[i])];
        for (int32_t k = 0; k < changed; ++k) // pixels of band 0 that another renderer put elsewhere
            pixels[size_t(k) * 100] = colours[1];
        WriteBitmap("A11000.bmp", 100, 50, pixels);
    };
    const struct {
        const char* what;
        std::vector<int32_t> bounds;
        TIntVector colours;
        int32_t changed;
        bool used;
    } cases[] = {
        {"the same photograph", {0, 30, 60, 100}, bands, 0, true},
        {"10 pixels rendered differently", {0, 30, 60, 100}, bands, 10, true},
        {"retaken 3 pixels further right", {0, 33, 63, 100}, bands, 0, false},
        {"retaken with 10 % less light", {0, 30, 60, 100}, {0x00B400, 0xB40000, 0x0E0E0E}, 0, false},
    };
    for (const auto& c : cases) {
        photograph(c.bounds, c.colours, c.changed);
        TTooth back(t->fname, 11);
        EXPECT_EQ(back.Done(), c.used) << c.what;
        if (c.used) {
            EXPECT_TRUE(back.StatNote.isEmpty()) << c.what;
        } else {
            EXPECT_EQ(back.StatNote, "results do not match the photograph; it will be recalculated") << c.what;
            EXPECT_EQ(back.Image.img, back.Raw.img) << c.what;
        }
        EXPECT_EQ(ReadAll(t->StatFileName()), saved) << "the old file stays until a new one is written";
    }
}

// Saving renamed the new file over a result file that was read-only or someone else's, and forced
// its mode to 0644.
TEST_F(TToothFileTest, WriteProtectedResultFileIsNotReplacedAndModeIsKept)
{
    auto t = Saved();
    const QString file = t->StatFileName();
    const QByteArray before = ReadAll(file);
    const QByteArray path = QFile::encodeName(file);
    auto mode = [&] {
        struct stat st {};
        ::stat(path.constData(), &st);
        return st.st_mode & 07777;
    };

    ASSERT_EQ(chmod(path.constData(), 0444), 0);
    t->SetSP(0, kRed);
    try {
        t->Appraise();
        ADD_FAILURE() << "a read-only result file was replaced";
    } catch (const TOrvixError& e) {
        EXPECT_NE(std::string(e.what()).find(file.toStdString()), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadAll(file), before);
    EXPECT_EQ(mode(), 0444u);

    // Someone else's file with the usual mode: only its owner may write it. (Needs root to set up.)
    if (chown(path.constData(), 4242, 4242) == 0) {
        ASSERT_EQ(chmod(path.constData(), 0644), 0);
        EXPECT_THROW(t->Appraise(), TOrvixError);
        EXPECT_EQ(ReadAll(file), before);
        ASSERT_EQ(chown(path.constData(), geteuid(), 4242), 0);
    }

    ASSERT_EQ(chmod(path.constData(), 0660), 0);
    struct stat old {};
    ::stat(path.constData(), &old);
    t->Appraise();
    EXPECT_NE(ReadAll(file), before) << "a writable file is replaced";
    EXPECT_EQ(mode(), 0660u);
    struct stat now {};
    ::stat(path.constData(), &now);
    EXPECT_EQ(now.st_gid, old.st_gid) << "group kept";
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
    EXPECT_THROW(t->Appraise(), TOrvixError);
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
