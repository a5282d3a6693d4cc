// The result file: version 6, little-endian, packed, beside the photograph.
#include "TTooth.h"

#include "DefaultIniFile.h"
#include "FileList.h"
#include "Streams.h"

#include <QFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

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
    StreamReadTransPars(s, f.TransPars);
    StreamReadTransPars(s, f.NELMPars);
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
    if (!AllBelow(f.labels, f.numlabels) || !AllBelow(f.Dirty, 3) || !AllBelow(f.Mask, 2) ||
        !MeansAreBytes(f.SPList))
        return false;
    for (const TSuperPixel& sp : f.SPList)
        if (uint32_t(sp.Kind) > 2 || sp.MaskedArea < 0 || sp.MaskedArea > sp.Area)
            return false;
    return true;
}

// Scales from 0.1 to 10 leave room around the editor's 0.5 to 1.5 for other programs; anything
// else, or a value that is not finite, renders the photograph black or not at all.
bool PlausibleTransform(const TTransPars& t)
{
    for (double v : {t.cosa, t.sina, t.fAngle, t.Shiftx, t.Shifty, t.Scalex, t.Scaley, t.Coeff})
        if (!std::isfinite(v))
            return false;
    return t.Scalex >= 0.1 && t.Scalex <= 10 && t.Scaley >= 0.1 && t.Scaley <= 10;
}

bool ValuesInRange(const TResultFile& f)
{
    if (!PlausibleTransform(f.TransPars) || !PlausibleTransform(f.NELMPars))
        return false;
    if (!ValidBGThreshold(f.BGThreshold) || !ValidRGThreshold(f.RGThreshold) || !std::isfinite(f.Cleanliness))
        return false;
    if (f.numlabels > 0 && (!ValidSPNumber(f.SPnumber) || !ValidCompactness(f.Compactness)))
        return false;
    return f.MaxIntensity >= 0 && f.MaxIntensity <= 255;
}

// Another program may sum in another order: equal to a few units in the last place.
bool NearlyEqual(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

// The stored areas are those of the stored class map; a few flipped bytes otherwise give
// negative areas or red percentages above 100.
bool AreasMatchClasses(const TResultFile& f, size_t pixels)
{
    int64_t red = 0, green = 0;
    for (int32_t c : f.Dirty) {
        red += c == kRed;
        green += c == kGreen;
    }
    return NearlyEqual(f.RArea, 100.0 * double(red) / double(pixels)) &&
           NearlyEqual(f.GArea, 100.0 * double(green) / double(pixels));
}

enum class TImageMatch { Matches, Damaged, OtherPhotograph };

// A result file describes its photograph exactly: the stored means are the truncated means of
// image (the photograph through the stored transform) over the stored labels, and the areas the
// label counts. Another program's transform may round a few pixels differently, which moves a
// mean by a fraction of a level; a retaken photograph moves nearly all of them further. So up to
// 1 % of the superpixels may differ by more than two levels.
TImageMatch MatchImage(const TResultFile& f, const TIntImage& image)
{
    struct TSums {
        int64_t Red = 0, Green = 0, Blue = 0, Area = 0;
    };
    std::vector<TSums> sums(size_t(f.numlabels));
    for (size_t i = 0; i < f.labels.size(); ++i) {
        TSums& s = sums[size_t(f.labels[i])];
        const int32_t p = image.img[i];
        s.Red += (p >> 16) & 255;
        s.Green += (p >> 8) & 255;
        s.Blue += p & 255;
        ++s.Area;
    }
    int32_t maxIntensity = 0, differing = 0;
    for (size_t k = 0; k < sums.size(); ++k) {
        const TSums& s = sums[k];
        const TSuperPixel& sp = f.SPList[k];
        if (sp.Area != s.Area)
            return TImageMatch::Damaged;
        if (s.Area == 0)
            continue;
        maxIntensity = std::max(maxIntensity, sp.Intensity());
        const auto off = [&](int64_t sum, int32_t stored) { return std::abs(sum / s.Area - stored) > 2; };
        differing += off(s.Red, sp.Red) || off(s.Green, sp.Green) || off(s.Blue, sp.Blue);
    }
    if (maxIntensity != f.MaxIntensity)
        return TImageMatch::Damaged;
    return differing <= f.numlabels / 100 ? TImageMatch::Matches : TImageMatch::OtherPhotograph;
}

[[noreturn]] void SaveFailed(const QString& path, const QString& why)
{
    throw TOrvixError(QString("cannot save the results to %1: %2").arg(path, why).toStdString());
}

// The old file is replaced only once the new one has been written completely. No fsync: the
// editor saves on every slider step, and a rename over the old file already makes the common file
// systems flush the new data first.
void ReplaceFile(const QString& path, const std::function<bool(QIODevice&)>& write)
{
    const QByteArray target = QFile::encodeName(path);
    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && !MayReplaceFile(path))
        SaveFailed(path, "the existing file is write-protected or belongs to someone else");
    QTemporaryFile temp(path + ".XXXXXX");
    temp.setAutoRemove(true);
    if (!temp.open())
        SaveFailed(path, temp.errorString());
    if (!write(temp) || !temp.flush())
        SaveFailed(path, temp.errorString());
    const int fd = temp.handle();
    if (exists) {
        // A group the user does not belong to cannot be given; the file then keeps the user's.
        [[maybe_unused]] const int ignored = fchown(fd, uid_t(-1), old.st_gid);
        fchmod(fd, old.st_mode & 07777);
    } else {
        fchmod(fd, 0644);
    }
    temp.close();
    if (temp.error() != QFileDevice::NoError)
        SaveFailed(path, temp.errorString());
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), target.constData()) != 0)
        SaveFailed(path, QString::fromLocal8Bit(std::strerror(errno)));
    temp.setAutoRemove(false);
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
        StreamWriteTransPars(s, TransPars);
        StreamWriteTransPars(s, NELMPars);
        StreamWriteBool(s, NelmDone);
        for (double v : {Compactness, BGThreshold, RGThreshold, Cleanliness, RArea, GArea})
            StreamWriteDouble(s, v);
        StreamWriteInt(s, MaxIntensity);
        return s.Flush();
    });
    NoteSaved();
}

bool TTooth::LoadStat()
{
    StatNote.clear();
    QFile file(StatFileName());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();
    TResultFile f;
    const QString damaged = QStringLiteral("the result file is damaged; it will be recalculated");
    try {
        TStreamIn s(bytes.constData(), size_t(bytes.size()));
        int32_t version = 0;
        StreamReadInt(s, version);
        if (version != ResultFileVersion)
            return false;
        ReadBody(s, f);
    } catch (const std::exception&) {
        StatNote = damaged;
        return false;
    }
    const size_t pixels = size_t(Raw.Size());
    if (!FitsPhotograph(f, pixels) || !ValuesInRange(f) || !AreasMatchClasses(f, pixels)) {
        StatNote = damaged;
        return false;
    }
    TIntImage image;
    Raw.Transform(f.TransPars, image);
    if (f.numlabels > 0) {
        const TImageMatch match = MatchImage(f, image);
        if (match != TImageMatch::Matches) {
            StatNote = match == TImageMatch::Damaged
                           ? damaged
                           : QStringLiteral("results do not match the photograph; it will be recalculated");
            return false;
        }
    }
    Image = std::move(image);
    labels = std::move(f.labels);
    Dirty = std::move(f.Dirty);
    Mask = std::move(f.Mask);
    SPList = std::move(f.SPList);
    // A photograph leased again reads the values it already has: they are written only where they
    // differ, so that the UI thread may go on reading them while a worker reloads the pixels.
    const auto set = [](auto& field, const auto& value) {
        if (std::memcmp(&field, &value, sizeof(field)) != 0)
            field = value;
    };
    set(DisableMask, f.DisableMask);
    set(numlabels, f.numlabels);
    set(SPnumber, f.SPnumber);
    set(TransPars, f.TransPars);
    set(NELMPars, f.NELMPars);
    set(NelmDone, f.NelmDone);
    set(Compactness, f.Compactness);
    set(BGThreshold, f.BGThreshold);
    set(RGThreshold, f.RGThreshold);
    set(Cleanliness, f.Cleanliness);
    set(RArea, f.RArea);
    set(GArea, f.GArea);
    set(MaxIntensity, f.MaxIntensity);
    return true;
}
