#include "BitmapLoader.h"

#include "Types.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace {

uint32_t U32(const QByteArray& b, qsizetype at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

uint16_t U16(const QByteArray& b, qsizetype at)
{
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

// Writes decoded palette indexes into a black image, row by row as the stream orders them. The
// column never passes the width and the row never the height, so no code of a damaged or hostile
// stream can carry a pixel outside the image, however many codes it holds.
struct TRlePainter {
    QImage& image;
    const std::array<uint32_t, 256>& palette;
    int32_t x = 0, row = 0; // row counts from the first row of the stream
    bool bottomUp = true;

    // Pixels of a run past the end of its row are dropped.
    bool RowFull() const { return x >= image.width(); }
    void Put(uint8_t index)
    {
        if (RowFull())
            return;
        const int y = bottomUp ? image.height() - 1 - row : row;
        reinterpret_cast<uint32_t*>(image.scanLine(y))[x] = palette[index];
        ++x;
    }

    void EndOfLine()
    {
        x = 0;
        ++row;
    }

    // False when the jump leaves the image: the stream is damaged and the rest of it is ignored.
    bool Delta(int32_t dx, int32_t dy)
    {
        if (dx > image.width() - x || dy >= image.height() - row)
            return false;
        x += dx;
        row += dy;
        return true;
    }
};

// A stream that ends early or jumps with a delta leaves the pixels it never reached black.
void DecodeRleStream(const uint8_t* p, const uint8_t* end, bool rle4, TRlePainter& out)
{
    while (end - p >= 2 && out.row < out.image.height()) {
        const uint8_t count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && !out.RowFull(); ++i)
                out.Put(rle4 ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            out.EndOfLine();
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta: the skipped pixels stay black
            if (end - p < 2 || !out.Delta(p[0], p[1]))
                return;
            p += 2;
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const int n = value;
            const qsizetype bytes = rle4 ? (n + 1) / 2 : n;
            const qsizetype padded = (bytes + 1) & ~qsizetype(1);
            if (end - p < bytes)
                return;
            for (int i = 0; i < n && !out.RowFull(); ++i)
                out.Put(rle4 ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            p += std::min(padded, qsizetype(end - p));
        }
    }
}

} // namespace

QImage DecodeRleBitmap(const QByteArray& file)
{
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M')
        return {};
    const uint32_t offBits = U32(file, 10), infoSize = U32(file, 14);
    if (infoSize < 40 || 14 + qsizetype(infoSize) > file.size())
        return {};
    const int32_t width = int32_t(U32(file, 18)), height = int32_t(U32(file, 22));
    const uint16_t bitCount = U16(file, 28);
    const uint32_t compression = U32(file, 30), clrUsed = U32(file, 46);
    const bool rle8 = compression == 1 && bitCount == 8, rle4 = compression == 2 && bitCount == 4;
    if (!(rle8 || rle4) || width <= 0 || height == 0 || height == INT32_MIN || offBits >= uint32_t(file.size()))
        return {};
    const uint32_t maxColours = 1u << bitCount;
    const uint32_t colours = clrUsed == 0 || clrUsed > maxColours ? maxColours : clrUsed;
    const qsizetype paletteAt = 14 + infoSize;
    if (paletteAt + qsizetype(colours) * 4 > file.size())
        return {};
    std::array<uint32_t, 256> palette{}; // indexes beyond the palette show black
    for (uint32_t i = 0; i < colours; ++i)
        palette[i] = 0xff000000u | (U32(file, paletteAt + 4 * i) & 0xffffffu);
    for (uint32_t i = colours; i < 256; ++i)
        palette[i] = 0xff000000u;

    if (int64_t(width) * std::abs(int64_t(height)) > MaxBitmapPixels)
        return {};
    QImage image(width, std::abs(height), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(0xff000000u);
    TRlePainter painter{image, palette};
    painter.bottomUp = height > 0;
    const auto* data = reinterpret_cast<const uint8_t*>(file.constData());
    DecodeRleStream(data + offBits, data + file.size(), rle4, painter);
    return image;
}

namespace {

[[noreturn]] void Refuse(const QString& fname, const QString& why)
{
    throw TOrvixError(QString("\"%1\": %2").arg(fname, why).toStdString());
}

// What a Windows bitmap's header declares. Core (OS/2 1.x) headers have 16-bit sizes and no
// compression; every later header has the fields of BITMAPINFOHEADER as far as its size reaches.
struct TBitmapHeader {
    int64_t Width = 0, Height = 0; // Height as stored: negative for a top-down bitmap
    uint32_t BitCount = 0, Compression = 0, SizeImage = 0, OffBits = 0;
};

bool ReadBitmapHeader(const QByteArray& file, const QString& fname, TBitmapHeader& h)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return false;
    if (file.size() < 18)
        Refuse(fname, "the file is cut short: its header is incomplete");
    const uint32_t infoSize = U32(file, 14);
    if (infoSize < 12 || file.size() < 14 + qsizetype(std::min<uint32_t>(infoSize, 40)))
        Refuse(fname, "the file is cut short: its header is incomplete");
    h.OffBits = U32(file, 10);
    if (infoSize == 12) {
        h.Width = U16(file, 18);
        h.Height = int16_t(U16(file, 20));
        h.BitCount = U16(file, 24);
        return true;
    }
    h.Width = int32_t(U32(file, 18));
    h.Height = int32_t(U32(file, 22));
    h.BitCount = U16(file, 28);
    h.Compression = infoSize >= 20 ? U32(file, 30) : 0;
    h.SizeImage = infoSize >= 24 ? U32(file, 34) : 0;
    return true;
}

// Refuses, before any decoder sees them, bitmaps that would be decoded from memory the file does
// not hold (Qt fills missing rows with whatever the allocator hands out) and sizes that would
// exhaust memory.
void CheckBitmapHeader(const QByteArray& file, const QString& fname, int64_t fileSize)
{
    TBitmapHeader h;
    if (!ReadBitmapHeader(file, fname, h) || h.Width <= 0 || h.Height == 0)
        return; // not a bitmap, or one no decoder accepts
    const int64_t pixels = h.Width * std::abs(h.Height);
    if (pixels > MaxBitmapPixels)
        Refuse(fname, QString("the bitmap declares %1 x %2 pixels, more than the %3 megapixels a photograph may have")
                          .arg(h.Width)
                          .arg(std::abs(h.Height))
                          .arg(MaxBitmapPixels / 1'000'000));
    const int64_t available = std::max<int64_t>(0, fileSize - int64_t(h.OffBits));
    const auto cutShort = [&](int64_t expected) {
        Refuse(fname, QString("the file is cut short: %1 of %2 bytes of pixel data").arg(available).arg(expected));
    };
    const bool rle = (h.Compression == 1 && h.BitCount == 8) || (h.Compression == 2 && h.BitCount == 4);
    if (rle) {
        if (h.SizeImage > 0 && available < int64_t(h.SizeImage))
            cutShort(h.SizeImage);
        // A two-byte run paints at most 255 pixels; 256 pixels per byte is already more than any
        // photograph's stream needs, and keeps a few damaged bytes from claiming gigabytes.
        if (pixels > 256 * available)
            Refuse(fname, QString("the bitmap declares %1 x %2 pixels, more than its %3 bytes of compressed data "
                                  "can describe")
                              .arg(h.Width)
                              .arg(std::abs(h.Height))
                              .arg(available));
        return;
    }
    const bool uncompressed = h.Compression == 0 || h.Compression == 3 || h.Compression == 6;
    const std::array<uint32_t, 7> depths = {1, 2, 4, 8, 16, 24, 32};
    if (!uncompressed || std::find(depths.begin(), depths.end(), h.BitCount) == depths.end())
        return;
    // Some writers leave out the padding after the last row: every pixel is there all the same.
    const int64_t rowBytes = (h.Width * h.BitCount + 31) / 32 * 4;
    const int64_t lastRowBytes = (h.Width * h.BitCount + 7) / 8;
    if (available < rowBytes * (std::abs(h.Height) - 1) + lastRowBytes)
        cutShort(rowBytes * std::abs(h.Height));
}

// The size Qt's reader finds in the header, refused when it is above the limit.
QSize CheckedReaderSize(QImageReader& reader, const QString& fname)
{
    const QSize size = reader.size();
    if (size.isValid() && int64_t(size.width()) * size.height() > MaxBitmapPixels)
        Refuse(fname, QString("the image has %1 x %2 pixels, more than the %3 megapixels a photograph may have")
                          .arg(size.width())
                          .arg(size.height())
                          .arg(MaxBitmapPixels / 1'000'000));
    return size;
}

// Other image formats go through Qt's reader, which knows the size before it decodes.
QImage DecodeWithQt(QByteArray bytes, const QString& fname)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    CheckedReaderSize(reader, fname);
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        throw TOrvixError(QString("\"%1\" is not a readable bitmap").arg(fname).toStdString());
    return decoded.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage LoadBitmapFile(const QString& fname)
{
    // Qt's default decoding limit (256 MiB) is below our own; the limit is process-wide and
    // unsynchronised in Qt, hence set once. 1 GiB holds MaxBitmapPixels at 32 bits per pixel.
    static std::once_flag limitRaised;
    std::call_once(limitRaised, [] { QImageReader::setAllocationLimit(1024); });
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly))
        throw TOrvixError(QString("Cannot open the bitmap \"%1\": %2").arg(fname, file.errorString()).toStdString());
    const QByteArray bytes = file.readAll();
    file.close();
    CheckBitmapHeader(bytes, fname, bytes.size());
    QImage image = DecodeRleBitmap(bytes);
    return image.isNull() ? DecodeWithQt(bytes, fname) : image;
}

QSize PeekBitmapFile(const QString& fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly))
        throw TOrvixError(QString("Cannot open the bitmap \"%1\": %2").arg(fname, file.errorString()).toStdString());
    // Headers and palettes of every variant fit in this; the rest is pixel data.
    QByteArray head = file.read(64 * 1024);
    const int64_t size = file.size();
    file.close();
    CheckBitmapHeader(head, fname, size);
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize pixels = CheckedReaderSize(reader, fname);
    if (!pixels.isValid() || pixels.isEmpty())
        throw TOrvixError(QString("\"%1\" is not a readable bitmap").arg(fname).toStdString());
    return pixels;
}
