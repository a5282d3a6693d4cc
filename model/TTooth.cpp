// Construction, the result file's name and the display images.
#include "TTooth.h"

#include "BitmapLoader.h"

#include <QFileInfo>

#include <atomic>
#include <optional>
#include <cmath>
#include <cstring>

namespace {

std::atomic<int32_t> LoadedCount{0};
std::atomic<int32_t> PeakLoaded{0};
std::mutex CacheLock;
std::shared_ptr<TThumbnailCache> Cache;

void CountLoaded(int32_t Delta)
{
    const int32_t now = LoadedCount += Delta;
    for (int32_t peak = PeakLoaded.load(); now > peak && !PeakLoaded.compare_exchange_weak(peak, now);) {
    }
}

// Frees the memory, which clear() would keep.
template <class T> void Drop(T& v)
{
    T().swap(v);
}

// The mean of the source pixels under each thumbnail pixel, straight from the image: made at every
// release of a photograph, where converting and smoothing the whole photograph cost more than a
// tenth of a batch.
QImage BoxScaled(const TIntImage& Source, QSize Size)
{
    const int32_t w = Source.Width(), h = Source.Height();
    const int32_t tw = std::max(1, Size.width()), th = std::max(1, Size.height());
    QImage out(tw, th, QImage::Format_RGB32);
    std::vector<int32_t> x0(size_t(tw) + 1);
    for (int32_t x = 0; x <= tw; ++x)
        x0[size_t(x)] = int32_t(int64_t(x) * w / tw);
    std::vector<uint64_t> sums(size_t(tw) * 3);
    for (int32_t ty = 0; ty < th; ++ty) {
        const int32_t y0 = int32_t(int64_t(ty) * h / th), y1 = int32_t(int64_t(ty + 1) * h / th);
        std::fill(sums.begin(), sums.end(), 0);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t* row = Source.img.data() + size_t(y) * w;
            for (int32_t tx = 0; tx < tw; ++tx) {
                uint64_t r = 0, g = 0, b = 0;
                for (int32_t x = x0[size_t(tx)]; x < x0[size_t(tx) + 1]; ++x) {
                    const int32_t p = row[x];
                    r += (p >> 16) & 255;
                    g += (p >> 8) & 255;
                    b += p & 255;
                }
                sums[size_t(tx) * 3] += r;
                sums[size_t(tx) * 3 + 1] += g;
                sums[size_t(tx) * 3 + 2] += b;
            }
        }
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(ty));
        for (int32_t tx = 0; tx < tw; ++tx) {
            const uint64_t n = std::max<uint64_t>(1, uint64_t(x0[size_t(tx) + 1] - x0[size_t(tx)]) * uint64_t(y1 - y0));
            line[tx] = qRgb(int(sums[size_t(tx) * 3] / n), int(sums[size_t(tx) * 3 + 1] / n),
                            int(sums[size_t(tx) * 3 + 2] / n));
        }
    }
    return out;
}

} // namespace

bool SameTransPars(const TTransPars& a, const TTransPars& b)
{
    return std::memcmp(&a, &b, sizeof(TTransPars)) == 0;
}

bool TTooth::TSavedState::operator==(const TSavedState& b) const
{
    const TSavedState& a = *this;
    return SameTransPars(a.TransPars, b.TransPars) && SameTransPars(a.NELMPars, b.NELMPars) &&
           a.NelmDone == b.NelmDone && a.DisableMask == b.DisableMask && a.HasMask == b.HasMask &&
           a.numlabels == b.numlabels && a.SPnumber == b.SPnumber &&
           std::memcmp(&a.Compactness, &b.Compactness, sizeof(double)) == 0 &&
           std::memcmp(&a.BGThreshold, &b.BGThreshold, sizeof(double)) == 0 &&
           std::memcmp(&a.RGThreshold, &b.RGThreshold, sizeof(double)) == 0;
}

TTooth::TTooth(const QString& aFname, int32_t aID) : ID(aID), fname(aFname)
{
    TransPars = TTransPars::Identity();
    NELMPars = TransPars;
    std::lock_guard lock(fPixelLock);
    LoadPixelsLocked();
}

TTooth::TTooth(const QString& aFname, int32_t aID, const TPhotographSummary& Summary) : ID(aID), fname(aFname)
{
    fWidth = Summary.Width;
    fHeight = Summary.Height;
    DisableMask = Summary.DisableMask;
    fHasMask = Summary.HasMask;
    numlabels = Summary.numlabels;
    SPnumber = Summary.SPnumber;
    TransPars = Summary.TransPars;
    NELMPars = Summary.NELMPars;
    NelmDone = Summary.NelmDone;
    Compactness = Summary.Compactness;
    BGThreshold = Summary.BGThreshold;
    RGThreshold = Summary.RGThreshold;
    Cleanliness = Summary.Cleanliness;
    RArea = Summary.RArea;
    GArea = Summary.GArea;
    MaxIntensity = Summary.MaxIntensity;
    StatNote = Summary.StatNote;
    fThumb = Summary.Thumbnail;
    NoteSaved();
}

TTooth::~TTooth()
{
    if (fLoaded)
        CountLoaded(-1);
}

TTooth::TSavedState TTooth::CurrentState() const
{
    return {TransPars, NELMPars, NelmDone, DisableMask, HasMaskLocked(), numlabels, SPnumber,
            Compactness, BGThreshold, RGThreshold};
}

void TTooth::NoteSaved() const
{
    fSaved = CurrentState();
}

bool TTooth::Unsaved() const
{
    return !(CurrentState() == fSaved);
}

void TTooth::LoadPixelsLocked()
{
    const QImage bitmap = LoadBitmapFile(fname);
    const bool wasDone = Done();
    // Settings changed while the pixels were out (nothing in the program does, but a caller may)
    // are not overwritten by the file's.
    const std::optional<TSavedState> changed = Unsaved() ? std::optional(CurrentState()) : std::nullopt;
    Raw.Setbitmap(bitmap);
    SetSize();
    // Loaded before the saved state is noted: the mask flag is read from Mask from here on.
    fLoaded = true;
    CountLoaded(1);
    if (LoadStat()) {
        NoteSaved();
        if (changed) {
            TransPars = changed->TransPars;
            NELMPars = changed->NELMPars;
            NelmDone = changed->NelmDone;
            DisableMask = changed->DisableMask;
            SPnumber = changed->SPnumber;
            Compactness = changed->Compactness;
            BGThreshold = changed->BGThreshold;
            RGThreshold = changed->RGThreshold;
            Raw.Transform(TransPars, Image);
        }
        DrawDirty();
        return;
    }
    // Saved results that no longer describe the files (changed since) are not shown as measured.
    if (wasDone && !changed) {
        DeleteSuperPixels();
        TransPars = NELMPars = TTransPars::Identity();
        NelmDone = false;
        Cleanliness = 0;
        Drop(Mask);
    }
    Raw.Transform(TransPars, Image);
    Contour = Image;
    if (!changed)
        NoteSaved();
}

bool TTooth::HasMask() const
{
    std::lock_guard lock(fPixelLock);
    return HasMaskLocked();
}

bool TTooth::HasMaskLocked() const
{
    return fLoaded ? !Mask.empty() : fHasMask;
}

double TTooth::KnownQuality(const TTooth& reference) const
{
    if (SameTransPars(fQuality.Own, TransPars) && SameTransPars(fQuality.Reference, reference.TransPars))
        return fQuality.Value;
    return std::numeric_limits<double>::quiet_NaN();
}

void TTooth::KnowQuality(const TTooth& reference, double Quality) const
{
    fQuality = {Quality, TransPars, reference.TransPars, TFileStamp::Of(reference.fname),
                TFileStamp::Of(reference.StatFileName())};
}

void TTooth::SetSize()
{
    // Written only when new: the size is read without the lock.
    if (fWidth != Raw.Width() || fHeight != Raw.Height()) {
        fWidth = Raw.Width();
        fHeight = Raw.Height();
    }
}

bool TTooth::PixelsLoaded() const
{
    std::lock_guard lock(fPixelLock);
    return fLoaded;
}

void TTooth::Acquire() const
{
    std::lock_guard lock(fPixelLock);
    if (!fLoaded)
        const_cast<TTooth*>(this)->LoadPixelsLocked();
    ++fLeases;
}

void TTooth::Release() const
{
    std::lock_guard lock(fPixelLock);
    if (--fLeases == 0)
        const_cast<TTooth*>(this)->ReleaseLocked();
}

bool TTooth::ReleasePixels()
{
    std::lock_guard lock(fPixelLock);
    if (fLeases == 0)
        ReleaseLocked();
    return !fLoaded;
}

void TTooth::ReleaseLocked()
{
    if (!fLoaded || Unsaved())
        return;
    fHasMask = !Mask.empty();
    fThumb = ThumbnailLocked(512);
    if (const std::shared_ptr<TThumbnailCache> cache = ThumbnailCache()) {
        // Stamped now, after the last save: the entry describes the files as they are.
        TCacheEntry entry;
        entry.Bitmap = TFileStamp::Of(fname);
        entry.Result = TFileStamp::Of(StatFileName());
        entry.Summary = SummaryLocked(fThumb);
        cache->Store(entry);
    }
    Raw = TIntImage();
    Image = TIntImage();
    Contour = TIntImage();
    Drop(labels);
    Drop(Dirty);
    Drop(Mask);
    Drop(SPList);
    fLoaded = false;
    CountLoaded(-1);
}

TPhotographSummary TTooth::SummaryLocked(const QImage& Thumbnail) const
{
    TPhotographSummary s;
    s.Width = fWidth;
    s.Height = fHeight;
    s.DisableMask = DisableMask;
    s.HasMask = HasMaskLocked();
    s.numlabels = numlabels;
    s.SPnumber = SPnumber;
    s.TransPars = TransPars;
    s.NELMPars = NELMPars;
    s.NelmDone = NelmDone;
    s.Compactness = Compactness;
    s.BGThreshold = BGThreshold;
    s.RGThreshold = RGThreshold;
    s.Cleanliness = Cleanliness;
    s.RArea = RArea;
    s.GArea = GArea;
    s.MaxIntensity = MaxIntensity;
    s.StatNote = StatNote;
    s.Thumbnail = Thumbnail;
    if (!std::isnan(fQuality.Value) && SameTransPars(fQuality.Own, TransPars)) {
        s.Quality = fQuality.Value;
        s.RefBitmap = fQuality.RefBitmap;
        s.RefResult = fQuality.RefResult;
    }
    return s;
}

int32_t TTooth::LoadedPhotographs()
{
    return LoadedCount;
}

int32_t TTooth::PeakLoadedPhotographs()
{
    return PeakLoaded;
}

void TTooth::ResetPeakLoaded()
{
    PeakLoaded = LoadedCount.load();
}

void TTooth::UseThumbnailCache(std::shared_ptr<TThumbnailCache> aCache)
{
    std::lock_guard lock(CacheLock);
    Cache = std::move(aCache);
}

std::shared_ptr<TThumbnailCache> TTooth::ThumbnailCache()
{
    std::lock_guard lock(CacheLock);
    return Cache;
}

TPixelLease::TPixelLease(const TTooth* Tooth)
{
    if (!Tooth)
        return;
    Tooth->Acquire();
    fTooth = const_cast<TTooth*>(Tooth);
}

TPixelLease& TPixelLease::operator=(TPixelLease&& Other) noexcept
{
    if (this != &Other) {
        reset();
        fTooth = std::exchange(Other.fTooth, nullptr);
    }
    return *this;
}

void TPixelLease::reset() noexcept
{
    if (TTooth* t = std::exchange(fTooth, nullptr))
        t->Release();
}

QString TTooth::StatFileName() const
{
    return ResultFileName(fname);
}

QString ResultFileName(const QString& fname)
{
    const QFileInfo info(fname);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot >= 0 ? name.left(dot) : name;
    const QString dir = fname.left(fname.size() - name.size());
    return dir + base + ".sp";
}

namespace {

// Differing, not yet painted neighbours of pixel i, clipped to the image.
int CountBorderNeighbours(const TIntVector& labels, const std::vector<uint8_t>& taken, int32_t x,
                          int32_t y, int32_t width, int32_t height)
{
    const size_t i = size_t(x) + size_t(y) * width;
    int np = 0;
    for (int32_t ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
        for (int32_t nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx) {
            const size_t j = size_t(nx) + size_t(ny) * width;
            np += (j != i && !taken[j] && labels[j] != labels[i]);
        }
    return np;
}

} // namespace

void MarkContours(TIntVector& pixels, const TIntVector& labels, int32_t width, int32_t height,
                  int32_t colour)
{
    std::vector<uint8_t> taken(size_t(width) * size_t(height), 0);
    const ptrdiff_t w = width;
    const ptrdiff_t offsets[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
    for (int32_t y = 0; y < height; ++y) {
        const bool innerRow = y > 0 && y < height - 1;
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = size_t(x) + size_t(y) * width;
            int np;
            if (innerRow && x > 0 && x < width - 1) {
                // Interior pixels need no clipping; most of them lie inside one region.
                const int32_t own = labels[i];
                np = 0;
                for (ptrdiff_t o : offsets)
                    np += labels[i + o] != own && !taken[i + o];
            } else {
                np = CountBorderNeighbours(labels, taken, x, y, width, height);
            }
            if (np > 1) {
                pixels[i] = colour;
                taken[i] = 1;
            }
        }
    }
}

void TTooth::DrawDirty()
{
    TIntImage contour = Image;
    if (!Dirty.empty())
        MarkContours(contour.img, Dirty, contour.Width(), contour.Height(), 0xFFFFFF);
    if (!Mask.empty())
        MarkContours(contour.img, Mask, contour.Width(), contour.Height(), 0xFF00FF);
    Contour = std::move(contour);
}

void TTooth::DrawAll(int32_t What)
{
    TIntImage contour = Image;
    if (!labels.empty()) {
        for (size_t i = 0; i < contour.img.size(); ++i) {
            int32_t& p = contour.img[i];
            const TSuperPixel& s = SPList[size_t(labels[i])];
            switch (What) {
            case 0:
                if (Dirty[i] == kBackground)
                    p = 0x000000;
                else if (Dirty[i] == kGreen)
                    p = 0x008000;
                else if (Dirty[i] == kRed)
                    p = 0xFF0000;
                break;
            case 1: p = s.Intensity() * 0x010101; break;
            case 2: p = s.Red << 16; break;
            case 3: p = s.Green << 8; break;
            case 4: p = s.Blue; break;
            default: break;
            }
        }
        MarkContours(contour.img, labels, contour.Width(), contour.Height(), 0xFFFFFF);
    }
    Contour = std::move(contour);
}

QImage TTooth::Thumbnail(int32_t MaxSide) const
{
    // Locked: a worker may let this photograph's pixels go meanwhile (a reference it held).
    std::lock_guard lock(fPixelLock);
    return ThumbnailLocked(MaxSide);
}

QImage TTooth::ThumbnailLocked(int32_t MaxSide) const
{
    if (Contour.Width() <= 0 || Contour.Height() <= 0) {
        if (fThumb.isNull() || std::max(fThumb.width(), fThumb.height()) <= MaxSide)
            return fThumb;
        return fThumb.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    const int32_t w = Contour.Width(), h = Contour.Height();
    if (std::max(w, h) <= MaxSide) {
        QImage full;
        Contour.GetBitmap(full);
        return full;
    }
    return BoxScaled(Contour, QSize(w, h).scaled(MaxSide, MaxSide, Qt::KeepAspectRatio));
}
