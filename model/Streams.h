// Little-endian stream primitives of the result file. Writers append to a byte buffer; readers
// consume a byte buffer and throw TOrvixError("Stream Read Error") when the bytes run out, leaving
// the destination unchanged.
#pragma once

#include "Types.h"

#include <string>

class QIODevice;

// Collects the bytes in Bytes, or, given a device, writes them through: small values are gathered
// and large blocks (the per-pixel vectors) go to the device straight from the caller's memory.
class TStreamOut {
public:
    TStreamOut() = default;
    explicit TStreamOut(QIODevice* device) : fDevice(device) {}
    std::string Bytes; // gathered, not yet written
    void WriteRaw(const void* data, size_t size);
    // Writes what is gathered; false when the device refused any byte so far.
    bool Flush();

private:
    QIODevice* fDevice = nullptr;
    bool fFailed = false;
};

class TStreamIn {
public:
    TStreamIn(const char* data, size_t size) : fData(data), fSize(size) {}
    size_t Position() const { return fPos; }
    size_t Remaining() const { return fSize - fPos; }
    // Copies exactly size bytes or throws.
    void ReadRaw(void* dest, size_t size);

private:
    const char* fData;
    size_t fSize;
    size_t fPos = 0;
};

void StreamWriteInt(TStreamOut& stream, int32_t value);
void StreamWriteDouble(TStreamOut& stream, double value);
void StreamWriteBool(TStreamOut& stream, bool value);
void StreamWriteIntVector(TStreamOut& stream, const TIntVector& vector);

void StreamReadInt(TStreamIn& stream, int32_t& value);
void StreamReadDouble(TStreamIn& stream, double& value);
void StreamReadBool(TStreamIn& stream, bool& value);
// Rejects a negative count and one whose entries exceed the bytes left.
void StreamReadIntVector(TStreamIn& stream, TIntVector& vector);

[[noreturn]] void StreamReadError();

struct TTransPars;
// The eight fields in declaration order (cosa, sina, fAngle, Shiftx, Shifty, Scalex, Scaley,
// Coeff), as stored, not recomputed.
void StreamWriteTransPars(TStreamOut& stream, const TTransPars& t);
void StreamReadTransPars(TStreamIn& stream, TTransPars& t);
