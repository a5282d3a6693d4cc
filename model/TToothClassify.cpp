// Segmentation into superpixels, classification and measurement.
#include "TTooth.h"

#include "SLIC.h"
#include "TSpotList.h"

#include <memory>

namespace {

struct TSlicDeleter {
    void operator()(void* h) const { DeleteSLICHandle(reinterpret_cast<SLICHandle>(h)); }
};
using TSlicPtr = std::unique_ptr<void, TSlicDeleter>;

} // namespace

double TTooth::DoSuperpixel(int32_t SPNumber, double aCompactness, double aBGThreshold,
                            double aRGThreshold)
{
    SPnumber = SPNumber;
    Compactness = aCompactness;
    BGThreshold = aBGThreshold;
    RGThreshold = aRGThreshold;
    return DoSuperpixel();
}

double TTooth::DoSuperpixel()
{
    SPnumber = std::min(SPnumber, MaxSuperpixels);
    labels.resize(size_t(Image.Size()));
    try {
        // One handle per segmentation, released whatever happens.
        TSlicPtr handle(reinterpret_cast<void*>(NewSLIC()));
        DoSuperpixelSegmentation_ForGivenK(reinterpret_cast<SLICHandle>(handle.get()),
                                           reinterpret_cast<const uint32_t*>(Image.img.data()),
                                           Image.Width(), Image.Height(), labels.data(), &numlabels,
                                           SPnumber, Compactness);
    } catch (...) {
        // A failing library leaves the photograph as the count it wrote says.
    }
    SPList.clear();
    if (numlabels <= 0) {
        labels.clear();
        Dirty.clear();
        return 0;
    }
    BuildSuperPixelTable();
    if (!Done())
        return 0;
    Dirty.resize(labels.size());
    Appraise();
    return 1.0;
}

void TTooth::BuildSuperPixelTable()
{
    SPList.assign(size_t(numlabels), TSuperPixel{});
    const size_t n = labels.size();
    for (size_t i = 0; i < n; ++i) {
        const uint32_t label = uint32_t(labels[i]);
        if (label >= uint32_t(numlabels)) {
            // A label the table has no room for would corrupt memory: treat as no segmentation.
            SPList.clear();
            labels.clear();
            Dirty.clear();
            numlabels = 0;
            return;
        }
        TSuperPixel& s = SPList[label];
        const int32_t p = Image.img[i];
        ++s.Area;
        s.Red += (p >> 16) & 255;
        s.Green += (p >> 8) & 255;
        s.Blue += p & 255;
    }
    MaxIntensity = 0;
    for (TSuperPixel& s : SPList)
        if (s.Area > 0) {
            s.Red /= s.Area;
            s.Green /= s.Area;
            s.Blue /= s.Area;
            MaxIntensity = std::max(MaxIntensity, s.Intensity());
        }
}

void TTooth::DeleteSuperPixels()
{
    SPList.clear();
    labels.clear();
    Dirty.clear();
    numlabels = 0;
    RArea = 0;
    GArea = 0;
    MaxIntensity = 0;
}

void TTooth::CalcMaskedArea()
{
    for (TSuperPixel& s : SPList)
        s.MaskedArea = 0;
    if (labels.empty() || Mask.empty())
        return;
    for (size_t i = 0; i < labels.size(); ++i)
        if (Mask[i] > 0)
            ++SPList[size_t(labels[i])].MaskedArea;
}

void TTooth::Appraise()
{
    if (labels.empty())
        return;
    // A threshold that is not a number lets no superpixel through.
    const double product = MaxIntensity * BGThreshold;
    const int32_t T = std::isnan(product) ? INT32_MAX : RoundEven(product);
    CalcMaskedArea();
    const bool maskInForce = !DisableMask && !Mask.empty();
    const bool black = Black(); // the threshold would be 0 and every superpixel tooth
    for (TSuperPixel& s : SPList) {
        if (s.Fixed)
            continue;
        if (black || s.Intensity() < T)
            s.Kind = kBackground;
        else if (maskInForce && s.MaskedArea <= s.Area / 2)
            s.Kind = kBackground;
        else
            s.Kind = s.Green >= (1 - RGThreshold) * s.Red ? kGreen : kRed;
    }
    Dirty.resize(labels.size());
    for (size_t i = 0; i < labels.size(); ++i)
        Dirty[i] = SPList[size_t(labels[i])].Kind;
    SelectBiggest();
    DrawDirty();
    CalcStat();
    SaveStat();
}

void TTooth::SelectBiggest()
{
    TIntVector work = Dirty;
    TSpotList spots;
    FindSpots(work, Image.Width(), Image.Height(), spots);
    if (spots.Count() <= 1)
        return;
    const TPointList* biggest = spots.TheBiggestDot();
    const int32_t w = Image.Width();
    for (int32_t s = 0; s < spots.Count(); ++s) {
        const TPointList* spot = spots.Getdata(s);
        if (spot == biggest)
            continue;
        for (int32_t k = 0; k < spot->Count(); ++k) {
            const TPoint p = spot->Getdata(k);
            Dirty[size_t(p.X) + size_t(p.Y) * w] = kBackground;
        }
    }
    // A superpixel takes the class of its last pixel; outside the biggest spot that is background.
    for (size_t i = 0; i < labels.size(); ++i)
        SPList[size_t(labels[i])].Kind = Dirty[i];
}

void TTooth::CalcStat()
{
    int64_t red = 0, green = 0;
    for (int32_t c : Dirty) {
        red += c == kRed;
        green += c == kGreen;
    }
    const double pixels = double(Image.Width()) * double(Image.Height());
    if (pixels == 0)
        throw TOrvixError("cannot measure an empty image");
    RArea = 100.0 * double(red) / pixels;
    GArea = 100.0 * double(green) / pixels;
}

double TTooth::GetParam(int32_t i) const
{
    switch (i) {
    case 0: return Area();
    case 1: return RArea;
    case 2: return GArea;
    case 3: return RGRatio();
    case 4: return RPercent();
    default: return 0;
    }
}

void TTooth::SetSP(int32_t SPNum, int32_t Index)
{
    if (labels.empty() || SPNum < 0 || SPNum >= int32_t(SPList.size()))
        return;
    SPList[size_t(SPNum)].Kind = Index;
    SPList[size_t(SPNum)].Fixed = true;
    for (size_t i = 0; i < labels.size(); ++i)
        if (labels[i] == SPNum)
            Dirty[i] = Index;
}

void TTooth::DecSP(int32_t SPNum)
{
    if (labels.empty() || SPNum < 0 || SPNum >= int32_t(SPList.size()))
        return;
    SetSP(SPNum, (SPList[size_t(SPNum)].Kind + 1) % 3);
}

void TTooth::SetMask()
{
    if (!Done())
        return;
    Mask.resize(Dirty.size());
    for (size_t i = 0; i < Dirty.size(); ++i)
        Mask[i] = Dirty[i] != 0 ? 1 : 0;
    DrawDirty();
    SaveStat();
}

void TTooth::SetMask(const TTooth& othertooth)
{
    if (othertooth.Dirty.empty() || othertooth.Mask.empty())
        return;
    const int32_t W = Image.Width(), H = Image.Height();
    const int32_t W2 = othertooth.Image.Width(), H2 = othertooth.Image.Height();
    // Scaled corner to corner; a one-pixel axis has no span, so it samples the other's first column/row.
    auto source = [](int32_t c, int32_t from, int32_t to) {
        return from > 1 ? RoundEven(double(int64_t(c) * (to - 1)) / (from - 1)) : 0;
    };
    TIntVector mask(size_t(W) * size_t(H));
    for (int32_t y = 0; y < H; ++y) {
        const size_t row = size_t(source(y, H, H2)) * W2;
        for (int32_t x = 0; x < W; ++x)
            mask[size_t(x) + size_t(y) * W] = othertooth.Mask[row + size_t(source(x, W, W2))];
    }
    Mask = std::move(mask);
    Appraise();
}
