// Damaged and hostile bitmap files: refused with a reason before any decoder or allocation.
#include "BitmapLoader.h"
#include "Types.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A Windows bitmap: file header, an info header of infoSize bytes (12: OS/2 core), a grey palette
// for depths up to 8, then pixelBytes bytes of pixel data (the value 0x40).
QByteArray Bitmap(uint32_t infoSize, int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                  qsizetype pixelBytes, uint32_t sizeImage = 0)
{
    const uint32_t colours = bitCount <= 8 ? 1u << bitCount : 0;
    const uint32_t offBits = 14 + infoSize + colours * (infoSize == 12 ? 3 : 4);
    QByteArray b(offBits, '\0');
    auto put = [&](qsizetype at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + i] = char((v >> (8 * i)) & 255);
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, uint32_t(offBits + pixelBytes), 4);
    put(10, offBits, 4);
    put(14, infoSize, 4);
    if (infoSize == 12) {
        put(18, uint32_t(width), 2);
        put(20, uint32_t(height), 2);
        put(22, 1, 2);
        put(24, bitCount, 2);
    } else {
        put(18, uint32_t(width), 4);
        put(22, uint32_t(height), 4);
        put(26, 1, 2);
        put(28, bitCount, 2);
        put(30, compression, 4);
        put(34, sizeImage, 4);
    }
    for (uint32_t i = 0; i < colours; ++i) {
        const uint32_t grey = i * 255 / std::max(colours - 1, 1u);
        put(14 + infoSize + i * (infoSize == 12 ? 3 : 4), grey * 0x010101u, 3);
    }
    return b + QByteArray(pixelBytes, char(0x40));
}

class BitmapLoaderTest : public testing::Test {
protected:
    QTemporaryDir Dir;

    QString Write(const QByteArray& bytes)
    {
        const QString path = Dir.filePath("A11000.bmp");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }

    // The loader's message, or "" when the file loads.
    std::string Refusal(const QByteArray& bytes)
    {
        try {
            LoadBitmapFile(Write(bytes));
            return "";
        } catch (const TOrvixError& e) {
            return e.what();
        }
    }
};

} // namespace

// Qt decoded such files with the missing rows taken from uninitialised memory, so a batch measured
// the previous photograph's pixels again.
TEST_F(BitmapLoaderTest, CutShortBitmapIsUnreadableWhateverTheVariant)
{
    // 10 x 6 pixels; rows padded to 4 bytes.
    const struct {
        const char* variant;
        QByteArray whole;
        qsizetype pixelBytes;
    } cases[] = {
        {"24-bit bottom-up", Bitmap(40, 10, 6, 24, 0, 32 * 6), 32 * 6},
        {"32-bit top-down", Bitmap(40, 10, -6, 32, 0, 40 * 6), 40 * 6},
        {"8-bit palette", Bitmap(40, 10, 6, 8, 0, 12 * 6), 12 * 6},
        {"1-bit palette", Bitmap(40, 10, 6, 1, 0, 4 * 6), 4 * 6},
        {"16-bit, V5 header", Bitmap(124, 10, 6, 16, 0, 20 * 6), 20 * 6},
        {"OS/2 core 24-bit", Bitmap(12, 10, 6, 24, 0, 32 * 6), 32 * 6},
        {"RLE8 with its data size", Bitmap(40, 10, 6, 8, 1, 64, 64), 64},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Refusal(c.whole), "") << c.variant << " complete";
        const qsizetype kept = c.pixelBytes / 2;
        const std::string why = Refusal(c.whole.left(c.whole.size() - c.pixelBytes + kept));
        EXPECT_NE(why.find(QString("the file is cut short: %1 of %2 bytes of pixel data")
                               .arg(kept)
                               .arg(c.pixelBytes)
                               .toStdString()),
                  std::string::npos)
            << c.variant << ": " << why;
    }
    EXPECT_NE(Refusal(Bitmap(40, 10, 6, 24, 0, 0).left(30)).find("header is incomplete"), std::string::npos);
    const QByteArray unpaddedEnd = cases[0].whole.chopped(2);
    EXPECT_EQ(Refusal(unpaddedEnd), "") << "only the last row's padding missing: every pixel is there";
}

// A 600-byte damaged RLE4 file declaring a huge image grew a run to 24 GB, and 60 bytes of RLE8
// cost 3 to 6 GB: the size is refused from the header alone.
TEST_F(BitmapLoaderTest, HugeDeclaredSizeIsRefusedBeforeAllocating)
{
    const struct {
        const char* variant;
        QByteArray file;
        const char* reason;
    } cases[] = {
        {"24-bit 20000 x 20000", Bitmap(40, 20000, 20000, 24, 0, 0), "more than the 250 megapixels"},
        {"RLE8 20000 x -20000", Bitmap(40, 20000, -20000, 8, 1, 8), "more than the 250 megapixels"},
        {"RLE8 8192 x 16384 in 60 bytes", Bitmap(40, 8192, 16384, 8, 1, 8).left(60), "compressed data can describe"},
        {"RLE8 8192 x 8192, 6 bytes of data", Bitmap(40, 8192, 8192, 8, 1, 6), "6 bytes of compressed data"},
        {"RLE4 65535 x 65535 in 600 bytes", Bitmap(40, 65535, 65535, 4, 2, 600 - 118), "250 megapixels"},
        {"RLE4 4000 x 3000 in 600 bytes", Bitmap(40, 4000, 3000, 4, 2, 600 - 118), "482 bytes of compressed data"},
    };
    for (const auto& c : cases)
        EXPECT_NE(Refusal(c.file).find(c.reason), std::string::npos) << c.variant << ": " << Refusal(c.file);
    EXPECT_TRUE(DecodeRleBitmap(Bitmap(40, 20000, 20000, 8, 1, 4096)).isNull()) << "the decoder alone, too";
}
