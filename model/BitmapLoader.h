// Decoding of photograph files into 32-bit pixels (QImage::Format_RGB32, 0xffRRGGBB).
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

// The largest photograph taken in: 250 megapixels, about 1 GB as 32-bit pixels. Checked from the
// file's header before anything is allocated for its pixels.
inline constexpr int64_t MaxBitmapPixels = 250'000'000;

// Reads a bitmap of up to MaxBitmapPixels. Run-length-encoded bitmaps (RLE8, RLE4) are decoded
// here so that pixels their stream skips are black on every run. Throws TOrvixError naming the file
// when it is not a readable bitmap, when its pixel data is shorter than its header says ("the file
// is cut short"), when it is larger than the limit, or when it is compressed and declares more
// pixels than its data can describe. Safe on any thread.
QImage LoadBitmapFile(const QString& fname);

// The size of a bitmap from its header alone, with the checks LoadBitmapFile makes before it
// decodes (and its errors): for an intake that decodes the photograph later.
QSize PeekBitmapFile(const QString& fname);

// The RLE decoder on its own, for a complete file in memory: a null image when the file is not an
// RLE-compressed Windows bitmap, is malformed or is larger than MaxBitmapPixels.
QImage DecodeRleBitmap(const QByteArray& file);
