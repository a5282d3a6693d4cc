// Decoding of photograph files into 32-bit pixels (QImage::Format_RGB32, 0xffRRGGBB).
#pragma once

#include <QImage>
#include <QString>

// Reads a bitmap of any size a camera makes. Run-length-encoded bitmaps (RLE8, RLE4) are decoded
// here so that pixels their stream skips are black on every run. Throws TOrvixError naming the file
// when it is not a readable bitmap. Safe on any thread.
QImage LoadBitmapFile(const QString& fname);

// The RLE decoder on its own, for a complete file in memory: a null image when the file is not an
// RLE-compressed Windows bitmap or is malformed.
QImage DecodeRleBitmap(const QByteArray& file);
