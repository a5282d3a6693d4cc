// The result file: version 6, little-endian, packed, beside the photograph.
#include "TTooth.h"

#include "Streams.h"

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int32_t ResultFileVersion = 6;
constexpr size_t SuperPixelRecordSize = 28;

void WriteSuperPixel(TStreamOut& s, const TSuperPixel& sp)
{
    StreamWriteInt(s, sp.Red);
    StreamWriteInt(s, sp.Green);
    StreamWriteInt(s, sp.Blue);
    const char fixedAndFiller[4] = {sp.Fixed ? char(1) : char(0), 0, 0, 0};
    s.WriteRaw(fixedAndFiller, 4);
    StreamWriteInt(s, sp.Kind);
    StreamWriteInt(s, sp.Area);
    StreamWriteInt(s, sp.MaskedArea);
}

TSuperPixel ReadSuperPixel(TStreamIn& s)
{
    TSuperPixel sp;
    StreamReadInt(s, sp.Red);
    StreamReadInt(s, sp.Green);
    StreamReadInt(s, sp.Blue);
    char fixedAndFiller[4];
    s.ReadRaw(fixedAndFiller, 4);
    sp.Fixed = fixedAndFiller[0] != 0;
    StreamReadInt(s, sp.Kind);
    StreamReadInt(s, sp.Area);
    StreamReadInt(s, sp.MaskedArea);
    return sp;
}

// cosa, sina, fAngle, Shiftx, Shifty, Scalex, Scaley, Coeff as stored, not recomputed.
void WriteTransPars(TStreamOut& s, const TTransPars& t)
{
    for (double v : {t.cosa, t.sina, t.fAngle, t.Shiftx, t.Shifty, t.Scalex, t.Scaley, t.Coeff})
        StreamWriteDouble(s, v);
}

void ReadTransPars(TStreamIn& s, TTransPars& t)
{
    for (double* v : {&t.cosa, &t.sina, &t.fAngle, &t.Shiftx, &t.Shifty, &t.Scalex, &t.Scaley, &t.Coeff})
        StreamReadDouble(s, *v);
}

// Everything the file holds, read before any of it reaches the photograph.
struct TResultFile {
    bool DisableMask = false;
    TIntVector labels, Dirty, Mask;
    int32_t numlabels = 0, SPnumber = 0;
    TSPVector SPList;
    TTransPars TransPars, NELMPars;
    bool NelmDone = false;
    double Compactness = 0, BGThreshold = 0, RGThreshold = 0, Cleanliness = 0, RArea = 0, GArea = 0;
    int32_t MaxIntensity = 0;
};

void ReadBody(TStreamIn& s, TResultFile& f)
{
    StreamReadBool(s, f.DisableMask);
    StreamReadIntVector(s, f.labels);
    StreamReadIntVector(s, f.Dirty);
    StreamReadIntVector(s, f.Mask);
    StreamReadInt(s, f.numlabels);
    StreamReadInt(s, f.SPnumber);
    if (f.numlabels > 0) {
        if (size_t(f.numlabels) > s.Remaining() / SuperPixelRecordSize)
            StreamReadError();
        f.SPList.resize(size_t(f.numlabels));
        for (TSuperPixel& sp : f.SPList)
            sp = ReadSuperPixel(s);
    }
    ReadTransPars(s, f.TransPars);
    ReadTransPars(s, f.NELMPars);
    StreamReadBool(s, f.NelmDone);
    for (double* v : {&f.Compactness, &f.BGThreshold, &f.RGThreshold, &f.Cleanliness, &f.RArea, &f.GArea})
        StreamReadDouble(s, *v);
    StreamReadInt(s, f.MaxIntensity);
}

bool AllBelow(const TIntVector& v, int32_t limit)
{
    for (int32_t x : v)
        if (uint32_t(x) >= uint32_t(limit))
            return false;
    return true;
}

// Means are of bytes; larger ones overflow the drawing of the inspection views.
bool MeansAreBytes(const TSPVector& list)
{
    for (const TSuperPixel& sp : list)
        for (int32_t v : {sp.Red, sp.Green, sp.Blue})
            if (uint32_t(v) > 255)
                return false;
    return true;
}

// A file that does not fit the photograph would make classification and drawing index outside
// the arrays.
bool FitsPhotograph(const TResultFile& f, size_t pixels)
{
    if (!f.Mask.empty() && f.Mask.size() != pixels)
        return false;
    if (f.numlabels <= 0)
        return f.labels.empty() && (f.Dirty.empty() || f.Dirty.size() == pixels);
    if (f.labels.size() != pixels || f.Dirty.size() != pixels)
        return false;
    if (!AllBelow(f.labels, f.numlabels) || !AllBelow(f.Dirty, 3) || !MeansAreBytes(f.SPList))
        return false;
    for (const TSuperPixel& sp : f.SPList)
        if (uint32_t(sp.Kind) > 2)
            return false;
    return true;
}

// The old file is replaced only once the new one has been written completely. No fsync: the
// editor saves on every slider step, and a rename over the old file already makes the common file
// systems flush the new data first.
void ReplaceFile(const QString& path, const std::function<bool(QIODevice&)>& write)
{
    QTemporaryFile temp(path + ".XXXXXX");
    temp.setAutoRemove(true);
    if (!temp.open() || !write(temp) || !temp.flush())
        return;
    temp.close();
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) == 0) {
        temp.setAutoRemove(false);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
}

} // namespace

void TTooth::SaveStat() const
{
    if (labels.empty())
        return;
    ReplaceFile(StatFileName(), [this](QIODevice& device) {
        TStreamOut s(&device);
        StreamWriteInt(s, ResultFileVersion);
        StreamWriteBool(s, DisableMask);
        StreamWriteIntVector(s, labels);
        StreamWriteIntVector(s, Dirty);
        StreamWriteIntVector(s, Mask);
        StreamWriteInt(s, numlabels);
        StreamWriteInt(s, SPnumber);
        for (int32_t i = 0; i < numlabels && size_t(i) < SPList.size(); ++i)
            WriteSuperPixel(s, SPList[size_t(i)]);
        WriteTransPars(s, TransPars);
        WriteTransPars(s, NELMPars);
        StreamWriteBool(s, NelmDone);
        for (double v : {Compactness, BGThreshold, RGThreshold, Cleanliness, RArea, GArea})
            StreamWriteDouble(s, v);
        StreamWriteInt(s, MaxIntensity);
        return s.Flush();
    });
}

bool TTooth::LoadStat()
{
    QFile file(StatFileName());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();
    TResultFile f;
    try {
        TStreamIn s(bytes.constData(), size_t(bytes.size()));
        int32_t version = 0;
        StreamReadInt(s, version);
        if (version != ResultFileVersion)
            return false;
        ReadBody(s, f);
    } catch (const std::exception&) {
        return false;
    }
    if (!FitsPhotograph(f, size_t(Raw.Size())))
        return false;
    DisableMask = f.DisableMask;
    labels = std::move(f.labels);
    Dirty = std::move(f.Dirty);
    Mask = std::move(f.Mask);
    numlabels = f.numlabels;
    SPnumber = f.SPnumber;
    SPList = std::move(f.SPList);
    TransPars = f.TransPars;
    NELMPars = f.NELMPars;
    NelmDone = f.NelmDone;
    Compactness = f.Compactness;
    BGThreshold = f.BGThreshold;
    RGThreshold = f.RGThreshold;
    Cleanliness = f.Cleanliness;
    RArea = f.RArea;
    GArea = f.GArea;
    MaxIntensity = f.MaxIntensity;
    return true;
}
