#include "Streams.h"

#include "TIntImage.h"

#include <QIODevice>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the result file is little-endian and is written from memory as it stands");

void StreamReadError()
{
    throw TOrvixError("Stream Read Error");
}

void TStreamIn::ReadRaw(void* dest, size_t size)
{
    if (size > Remaining())
        StreamReadError();
    if (size == 0)
        return; // an empty vector's data() may be null, which memcpy must not see
    std::memcpy(dest, fData + fPos, size);
    fPos += size;
}

void TStreamOut::WriteRaw(const void* data, size_t size)
{
    constexpr size_t directSize = 64 * 1024;
    if (!fDevice || size < directSize) {
        Bytes.append(static_cast<const char*>(data), size);
        if (fDevice && Bytes.size() >= directSize)
            Flush();
        return;
    }
    Flush();
    if (!fFailed && fDevice->write(static_cast<const char*>(data), qint64(size)) != qint64(size))
        fFailed = true;
}

bool TStreamOut::Flush()
{
    if (fDevice && !Bytes.empty()) {
        if (!fFailed && fDevice->write(Bytes.data(), qint64(Bytes.size())) != qint64(Bytes.size()))
            fFailed = true;
        Bytes.clear();
    }
    return !fFailed;
}

void StreamWriteInt(TStreamOut& stream, int32_t value)
{
    stream.WriteRaw(&value, 4);
}

void StreamWriteDouble(TStreamOut& stream, double value)
{
    stream.WriteRaw(&value, 8);
}

void StreamWriteBool(TStreamOut& stream, bool value)
{
    const char b = value ? 1 : 0;
    stream.WriteRaw(&b, 1);
}

void StreamWriteIntVector(TStreamOut& stream, const TIntVector& vector)
{
    StreamWriteInt(stream, int32_t(vector.size()));
    if (!vector.empty())
        stream.WriteRaw(vector.data(), vector.size() * 4);
}

void StreamReadInt(TStreamIn& stream, int32_t& value)
{
    int32_t v;
    stream.ReadRaw(&v, 4);
    value = v;
}

void StreamReadDouble(TStreamIn& stream, double& value)
{
    double v;
    stream.ReadRaw(&v, 8);
    value = v;
}

void StreamReadBool(TStreamIn& stream, bool& value)
{
    char b;
    stream.ReadRaw(&b, 1);
    value = b != 0;
}

void StreamReadIntVector(TStreamIn& stream, TIntVector& vector)
{
    int32_t n;
    StreamReadInt(stream, n);
    if (n < 0 || size_t(n) > stream.Remaining() / 4)
        StreamReadError();
    TIntVector v(static_cast<size_t>(n));
    stream.ReadRaw(v.data(), size_t(n) * 4);
    vector = std::move(v);
}

void StreamWriteTransPars(TStreamOut& stream, const TTransPars& t)
{
    for (double v : {t.cosa, t.sina, t.fAngle, t.Shiftx, t.Shifty, t.Scalex, t.Scaley, t.Coeff})
        StreamWriteDouble(stream, v);
}

void StreamReadTransPars(TStreamIn& stream, TTransPars& t)
{
    for (double* v : {&t.cosa, &t.sina, &t.fAngle, &t.Shiftx, &t.Shifty, &t.Scalex, &t.Scaley, &t.Coeff})
        StreamReadDouble(stream, *v);
}
