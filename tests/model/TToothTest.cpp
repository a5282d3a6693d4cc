#include "BitmapLoader.h"
#include "ToothFixture.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <climits>
#include <cmath>

namespace {

constexpr int32_t White = 0xFFFFFF, Magenta = 0xFF00FF;

} // namespace

using TToothTest = ToothFixture;

TEST_F(TToothTest, FreshPhotographIsAnUnsegmentedCopy)
{
    TIntVector colours(12);
    for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = int32_t(0x102030 * (i + 1)) & 0xFFFFFF;
    TTooth t(WriteBitmap("A12003.bmp", 4, 3, colours), 12);
    for (size_t i = 0; i < colours.size(); ++i)
        EXPECT_EQ(t.Raw.img[i] & 0xFFFFFF, colours[i]);
    EXPECT_EQ(t.Image.img, t.Raw.img);
    EXPECT_EQ(t.Contour.img, t.Image.img);
    EXPECT_TRUE(t.TransPars.IsIdentity());
    EXPECT_EQ(t.TransPars.Coeff, 1.0);
    EXPECT_TRUE(t.NELMPars.IsIdentity());
    EXPECT_FALSE(t.Done());
    EXPECT_EQ(t.SPnumber, 0);
    EXPECT_EQ(t.StatFileName(), Path("A12003.sp"));
}

TEST_F(TToothTest, UnreadableBitmapNamesTheFile)
{
    const QString path = Path("A12003.bmp");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BM not really a bitmap");
    f.close();
    for (const QString& p : {path, Path("missing.bmp")}) {
        try {
            TTooth t(p, 12);
            FAIL() << "no error for " << p.toStdString();
        } catch (const TOrvixError& e) {
            EXPECT_NE(std::string(e.what()).find(p.toStdString()), std::string::npos) << e.what();
        }
    }
}

TEST_F(TToothTest, RleBitmapWithSkippedPixelsDecodesTheSameEveryTime)
{
    // 4 x 3 RLE8, bottom-up: the bottom row starts with 2 x index 1, then a delta (1 right, 1 up)
    // skips pixels of two rows, then one pixel of index 2 and an early end of bitmap.
    const unsigned char stream[] = {2, 1, 0, 2, 1, 1, 1, 2, 0, 1};
    QByteArray file(54 + 3 * 4, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = char((v >> (8 * i)) & 255);
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, 54 + 12);
    put32(14, 40);
    put32(18, 4);
    put32(22, 3);
    file[26] = 1;
    file[28] = 8;
    put32(30, 1);       // RLE8
    put32(46, 3);       // three palette entries
    put32(54, 0x112233);
    put32(58, 0x00FF00);
    put32(62, 0xFF0000);
    file.append(reinterpret_cast<const char*>(stream), sizeof stream);
    const QImage im = DecodeRleBitmap(file);
    ASSERT_FALSE(im.isNull());
    auto px = [&](int x, int y) { return int32_t(im.pixel(x, y) & 0xFFFFFF); };
    EXPECT_EQ(px(0, 2), 0x00FF00);
    EXPECT_EQ(px(1, 2), 0x00FF00);
    EXPECT_EQ(px(2, 2), 0) << "skipped by the delta";
    EXPECT_EQ(px(3, 1), 0xFF0000);
    EXPECT_EQ(px(0, 1), 0);
    EXPECT_EQ(px(0, 0), 0) << "never reached before the end of bitmap";

    const QString path = Path("A12003.bmp");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    const QImage loaded = LoadBitmapFile(path);
    EXPECT_EQ(loaded, im);
}

namespace {

// An RLE8 bitmap of width x height (negative: top-down) with the given palette and stream.
QByteArray Rle8Bitmap(int32_t width, int32_t height, const std::vector<uint32_t>& palette,
                      const std::vector<uint8_t>& stream)
{
    QByteArray file(54 + 4 * qsizetype(palette.size()), '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = char((v >> (8 * i)) & 255);
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, uint32_t(file.size()));
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    file[26] = 1;
    file[28] = 8;
    put32(30, 1);
    put32(46, uint32_t(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i)
        put32(54 + 4 * int(i), palette[i]);
    file.append(reinterpret_cast<const char*>(stream.data()), qsizetype(stream.size()));
    return file;
}

} // namespace

// The column used to count on past the width with every run and delta; enough of them overflowed
// it, and a negative column wrote before the image buffer. A small stream shows the bound: runs
// past the width draw nothing more, and a delta that leaves the image ends the stream.
TEST(RleDecoderTest, RleColumnWalkingPastTheWidthStaysInsideTheImage)
{
    std::vector<uint8_t> stream = {16, 1};    // row 0 full
    for (int i = 0; i < 1000; ++i)            // 255 000 columns more, all past the width
        stream.insert(stream.end(), {255, 2});
    stream.insert(stream.end(), {0, 2, 255, 0}); // a delta far to the right: leaves the image
    stream.insert(stream.end(), {0, 0, 4, 2});   // what a damaged stream says next is ignored
    const QImage im = DecodeRleBitmap(Rle8Bitmap(16, -2, {0, 0x00FF00, 0xFF0000}, stream));
    ASSERT_FALSE(im.isNull());
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(im.pixel(x, 0) & 0xFFFFFF, 0x00FF00u) << x;
        EXPECT_EQ(im.pixel(x, 1) & 0xFFFFFF, 0u) << x;
    }
}

TEST(MarkContoursTest, BoundariesComeOutOnePixelWide)
{
    // Vertical boundary in 4 x 3: column 1 painted in every row, column 2 never.
    TIntVector pixels(12, 0);
    MarkContours(pixels, {0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1}, 4, 3, 9);
    EXPECT_EQ(pixels, (TIntVector{0, 9, 0, 0, 0, 9, 0, 0, 0, 9, 0, 0}));

    // A lone pixel in a 5 x 5 region: only it is painted.
    TIntVector lone(25, 0), region(25, 0);
    region[12] = 1;
    MarkContours(lone, region, 5, 5, 9);
    TIntVector expected(25, 0);
    expected[12] = 9;
    EXPECT_EQ(lone, expected);

    // At the border only neighbours inside the image count: a corner pixel of another label has
    // three differing neighbours, its neighbours one each.
    TIntVector corner(9, 0), cornerLabels(9, 0);
    cornerLabels[0] = 1;
    MarkContours(corner, cornerLabels, 3, 3, 9);
    EXPECT_EQ(corner, (TIntVector{9, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(TToothTest, SuperPixelTableHasTruncatedMeansAndSkipsEmptyLabels)
{
    // Label 0: red bytes 10 and 11; label 1: one colour; label 2: no pixel.
    auto t = Segmented(3, 1, {0, 0, 1}, {0, 0});
    t->Image.img = {0x0A0000, 0x0B0102, 0xC87828};
    t->numlabels = 3;
    t->BuildSuperPixelTable();
    ASSERT_EQ(t->SPList.size(), 3u);
    const TSuperPixel& a = t->SPList[0];
    EXPECT_EQ((std::array{a.Red, a.Green, a.Blue, a.Area}), (std::array{10, 0, 1, 2}));
    const TSuperPixel& b = t->SPList[1];
    EXPECT_EQ((std::array{b.Red, b.Green, b.Blue, b.Area}), (std::array{200, 120, 40, 1}));
    const TSuperPixel& empty = t->SPList[2];
    EXPECT_EQ((std::array{empty.Red, empty.Green, empty.Blue, empty.Area, empty.Intensity()}),
              (std::array{0, 0, 0, 0, 0}));
    EXPECT_EQ(t->MaxIntensity, 200);

    t->Appraise();
    EXPECT_EQ(t->SPList[2].Kind, kBackground) << "a label without pixels is background";

    t->labels = {0, 5, 1}; // outside the table
    t->BuildSuperPixelTable();
    EXPECT_FALSE(t->Done());
    EXPECT_TRUE(t->labels.empty());
}

TEST_F(TToothTest, CountZeroLeavesThePhotographUnsegmentedAndItsFileAlone)
{
    auto t = Segmented(4, 2, Columns(4, 2, {0, 2, 4}), {0x00C800, 0xC80000});
    t->Appraise();
    ASSERT_TRUE(QFileInfo::exists(t->StatFileName()));
    const double rArea = t->RArea, gArea = t->GArea;
    const QByteArray before = [&] { QFile f(t->StatFileName()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    EXPECT_EQ(t->DoSuperpixel(0, 20, 0.5, 0), 0.0) << "K = 0 gives no superpixel";
    EXPECT_FALSE(t->Done());
    EXPECT_TRUE(t->labels.empty());
    EXPECT_TRUE(t->Dirty.empty());
    EXPECT_EQ(t->RArea, rArea);
    EXPECT_EQ(t->GArea, gArea);
    QFile f(t->StatFileName());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(TToothTest, BackgroundThresholdRoundsHalfToEven)
{
    struct Case {
        int32_t brightest, probe;
        bool tooth;
    };
    // 201 x 0.5 = 100.5 -> T = 100; 203 x 0.5 = 101.5 -> T = 102.
    for (const Case c : {Case{201, 100, true}, Case{201, 99, false}, Case{203, 102, true}, Case{203, 101, false}}) {
        auto t = Segmented(4, 2, Columns(4, 2, {0, 2, 4}), {c.brightest << 8, c.probe << 8});
        t->Appraise();
        EXPECT_EQ(t->SPList[1].Kind, c.tooth ? kGreen : kBackground) << c.brightest << " " << c.probe;
    }
}

// RoundEven(MaxIntensity * BGThreshold) was undefined above about 8.4 million and for NaN; on x86 it
// gave INT_MIN, so --bg 1e8 measured 100 % tooth.
TEST_F(TToothTest, OutOfRangeBackgroundThresholdNeverMakesEverythingTooth)
{
    const struct {
        double bg;
        double area; // percent of the image
    } cases[] = {{1e8, 0}, {1e300, 0}, {std::nan(""), 0}, {-1e12, 100}, {0.5, 100}};
    for (const auto& c : cases) {
        auto t = Segmented(4, 2, Columns(4, 2, {0, 2, 4}), {0x00C800, 0x00B400});
        t->BGThreshold = c.bg;
        t->Appraise();
        EXPECT_EQ(t->Area(), c.area) << c.bg;
    }
    EXPECT_EQ(RoundEven(2.5), 2);
    EXPECT_EQ(RoundEven(-3.5), -4);
    EXPECT_EQ(RoundEven(2147483647.4), INT32_MAX);
    EXPECT_EQ(RoundEven(2147483647.6), INT32_MAX);
    EXPECT_EQ(RoundEven(-1e10), INT32_MIN);
    EXPECT_EQ(RoundEven(std::nan("")), 0);
}

TEST_F(TToothTest, RedGreenRule)
{
    struct Case {
        double rg;
        int32_t red, green, kind;
    };
    for (const Case c : {Case{0, 100, 100, kGreen}, Case{0, 101, 100, kRed}, Case{0.2, 100, 80, kGreen},
                         Case{0.2, 100, 79, kRed}, Case{-0.2, 100, 120, kGreen}, Case{-0.2, 100, 119, kRed}}) {
        auto t = Segmented(2, 1, {0, 0}, {(c.red << 16) | (c.green << 8)});
        t->RGThreshold = c.rg;
        t->Appraise();
        EXPECT_EQ(t->SPList[0].Kind, c.kind) << c.rg << " " << c.red << " " << c.green;
        EXPECT_EQ(t->Dirty, TIntVector(2, c.kind));
    }
}

TEST_F(TToothTest, MaskNeedsMoreThanHalfOfASuperPixel)
{
    struct Case {
        int32_t area, inside, kind;
    };
    for (const Case c : {Case{5, 2, kBackground}, Case{5, 3, kGreen}, Case{4, 2, kBackground}, Case{4, 3, kGreen}}) {
        const int32_t w = c.area + 1; // label 1 is a one-pixel neighbour, never masked
        auto t = Segmented(w, 1, Columns(w, 1, {0, c.area, w}), {0x00FF00, 0x00FF00});
        t->Mask.assign(size_t(w), 0);
        for (int32_t i = 0; i < c.inside; ++i)
            t->Mask[size_t(i)] = 1;
        t->Appraise();
        EXPECT_EQ(t->SPList[0].Kind, c.kind) << c.area << " " << c.inside;
        EXPECT_EQ(t->SPList[0].MaskedArea, c.inside);

        const TIntVector mask = t->Mask;
        t->DisableMask = true;
        t->Appraise();
        EXPECT_EQ(t->SPList[0].Kind, kGreen) << "a disabled mask is ignored";
        EXPECT_EQ(t->Mask, mask);
    }
}

TEST_F(TToothTest, FixedSuperPixelsKeepTheirClassUnlessCutOff)
{
    // Labels 0 | 1 | 2 in columns; 1 is dark and splits 0 from 2 when it is background.
    auto t = Segmented(5, 2, Columns(5, 2, {0, 2, 3, 5}), {0x00FF00, 0x000A00, 0x00F000});
    t->SetSP(2, kGreen);
    t->BGThreshold = 2; // everything unfixed is background
    t->Appraise();
    EXPECT_EQ(t->SPList[2].Kind, kGreen);
    EXPECT_EQ(t->SPList[0].Kind, kBackground);

    t->SetSP(0, kRed); // two separate regions: 0 (4 px, first) and 2 (4 px)
    t->Appraise();
    EXPECT_EQ(t->SPList[0].Kind, kRed) << "equal regions: the first in row order stays";
    EXPECT_EQ(t->SPList[2].Kind, kBackground);
    EXPECT_TRUE(t->SPList[2].Fixed);
    EXPECT_EQ(t->Dirty, (TIntVector{2, 2, 0, 0, 0, 2, 2, 0, 0, 0}));

    t->DecSP(0); // red -> background, still fixed
    EXPECT_EQ(t->SPList[0].Kind, kBackground);
    t->DecSP(99); // outside the table: ignored
}

TEST_F(TToothTest, MeasurementsArePercentOfTheImage)
{
    // 200 x 100: 50 red and 150 green pixels in one region.
    const int32_t w = 200, h = 100;
    TIntVector labels(size_t(w * h), 2);
    for (int32_t x = 0; x < 200; ++x)
        labels[size_t(x)] = x < 50 ? 0 : 1;
    auto t = Segmented(w, h, labels, {0xFF0000, 0x00FF00, 0x000000});
    t->Appraise();
    EXPECT_DOUBLE_EQ(t->RArea, 0.25);
    EXPECT_DOUBLE_EQ(t->GArea, 0.75);
    EXPECT_DOUBLE_EQ(t->GetParam(0), 1.0);
    EXPECT_DOUBLE_EQ(t->GetParam(3), 1.0 / 3);
    EXPECT_DOUBLE_EQ(t->GetParam(4), 25.0);
    EXPECT_EQ(t->GetParam(5), 0.0);
    EXPECT_EQ(t->GetParam(-1), 0.0);

    t->RArea = 0;
    t->GArea = 0;
    EXPECT_EQ(t->RGRatio(), 100.0);
    EXPECT_EQ(t->RPercent(), 0.0);
}

TEST_F(TToothTest, SetMaskFromTheToothRegion)
{
    TTooth fresh(WriteBitmap("A11001.bmp", 2, 1, {0x00FF00, 0}), 11);
    fresh.SetMask();
    EXPECT_TRUE(fresh.Mask.empty());
    EXPECT_FALSE(QFileInfo::exists(fresh.StatFileName()));

    auto t = Segmented(4, 2, Columns(4, 2, {0, 2, 4}), {0x00FF00, 0x000000});
    t->Appraise();
    QFile::remove(t->StatFileName());
    t->SetMask();
    EXPECT_EQ(t->Mask, (TIntVector{1, 1, 0, 0, 1, 1, 0, 0}));
    EXPECT_TRUE(QFileInfo::exists(t->StatFileName()));
    EXPECT_EQ(t->Contour.img[1] & 0xFFFFFF, Magenta);
}

TEST_F(TToothTest, SetMaskFromAnotherPhotographScalesCornerToCorner)
{
    // Source 4 x 3 with mask = pixel index; target 8 x 6: (x, y) <- (round(3x/7), round(2y/5)).
    auto source = Segmented(4, 3, TIntVector(12, 0), {0x00FF00}, "A11000.bmp");
    source->Appraise();
    for (int32_t i = 0; i < 12; ++i)
        source->Mask.push_back(i);
    auto target = Segmented(8, 6, TIntVector(48, 0), {0x00FF00}, "A11001.bmp");
    target->SetMask(*source);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            const int32_t sx = RoundEven(3.0 * x / 7), sy = RoundEven(2.0 * y / 5);
            EXPECT_EQ(target->Mask[size_t(x + 8 * y)], sx + 4 * sy) << x << "," << y;
        }
    EXPECT_TRUE(QFileInfo::exists(target->StatFileName())) << "reclassified and saved";

    // One pixel wide or high: no division by zero, the first column/row is sampled.
    TTooth thin(WriteBitmap("A11002.bmp", 1, 3, {0, 0, 0}), 11);
    thin.SetMask(*source);
    EXPECT_EQ(thin.Mask, (TIntVector{0, 4, 8}));
    EXPECT_FALSE(QFileInfo::exists(thin.StatFileName())) << "unsegmented: mask kept in memory only";
}

TEST_F(TToothTest, DrawingViews)
{
    const TIntVector labels = Columns(6, 2, {0, 3, 6});
    auto t = Segmented(6, 2, labels, {0xC87828, 0x000000});
    t->Appraise();
    t->DrawAll(1);
    EXPECT_EQ(t->Contour.img[0], 200 * 0x010101);
    t->DrawAll(2);
    EXPECT_EQ(t->Contour.img[0], 200 << 16);
    t->DrawAll(0);
    EXPECT_EQ(t->Contour.img[0], 0xFF0000) << "red class";
    EXPECT_EQ(t->Contour.img[2], White) << "superpixel boundary";
    EXPECT_EQ(t->Contour.img[5], 0x000000) << "background class";
    t->DrawAll(7);
    EXPECT_EQ(t->Contour.img[0], t->Image.img[0]);

    t->DeleteSuperPixels();
    EXPECT_EQ(t->MaxIntensity, 0);
    t->DrawAll(1);
    EXPECT_EQ(t->Contour.img, t->Image.img);
    t->Mask.clear();
    for (int32_t l : labels)
        t->Mask.push_back(l == 0);
    t->DrawDirty();
    TIntVector expected = t->Image.img;
    expected[2] = expected[8] = Magenta;
    EXPECT_EQ(t->Contour.img, expected) << "only the mask outline without a segmentation";
}

TEST_F(TToothTest, DoSuperpixelSegmentsClassifiesMeasuresAndSaves)
{
    // A green disk with a red cap on a dark background.
    const int32_t w = 120, h = 90;
    TIntVector colours(size_t(w * h), 0x0C0804);
    int32_t red = 0, green = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double dx = x - 60.0, dy = y - 45.0;
            if (dx * dx + dy * dy < 35 * 35) {
                const bool cap = dy < -15;
                colours[size_t(x + y * w)] = cap ? 0xE03020 : 0x20E040;
                (cap ? red : green) += 1;
            }
        }
    TTooth t(WriteBitmap("A11000.bmp", w, h, colours), 11);
    EXPECT_EQ(t.DoSuperpixel(100, 20, 0.5, 0), 1.0);
    EXPECT_TRUE(t.Done());
    EXPECT_EQ(t.SPnumber, 100);
    EXPECT_EQ(t.BGThreshold, 0.5);
    EXPECT_EQ(t.labels.size(), size_t(w * h));
    EXPECT_EQ(int32_t(t.SPList.size()), t.numlabels);
    int32_t area = 0;
    for (const TSuperPixel& s : t.SPList)
        area += s.Area;
    EXPECT_EQ(area, w * h);
    EXPECT_EQ(t.MaxIntensity, 0xE0);
    EXPECT_NEAR(t.RArea, 100.0 * red / (w * h), 1.0);
    EXPECT_NEAR(t.GArea, 100.0 * green / (w * h), 1.0);
    EXPECT_NE(t.Contour.img, t.Image.img) << "outlines drawn";
    TTooth back(t.fname, 11);
    EXPECT_EQ(back.labels, t.labels) << "result file written";
    EXPECT_EQ(back.RArea, t.RArea);
}

// K went to the library unbounded: ten million superpixels asked of a 400 x 300 photograph gave
// one per pixel, and on a camera photograph minutes of work and a table of millions.
TEST_F(TToothTest, SuperpixelNumberIsBoundedWhereItEnters)
{
    TTooth t(WriteBitmap("A11000.bmp", 400, 300, TIntVector(400 * 300, 0x20E040)), 11);
    EXPECT_EQ(t.DoSuperpixel(10'000'000, 20, 0.5, 0), 1.0);
    EXPECT_EQ(t.SPnumber, MaxSuperpixels);
    EXPECT_LE(t.numlabels, MaxSuperpixels * 21 / 20);
}
