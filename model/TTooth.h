// One photograph of one tooth at one examination: its images, segmentation, classes, mask,
// parameters, measurements and transforms, and its result file beside the photograph.
//
// A photograph has no lock: it is used by the UI thread or by the one batch worker it is assigned
// to, never by both at once. Its pixel data (Raw, Image, Contour, labels, Dirty, Mask, SPList) are
// in memory only while something holds a TPixelLease on it; everything else stays, so that a study
// of hundreds of photographs fits in memory. Reading another photograph's Image (the alignment
// reference) needs a lease on it too; leases themselves are thread-safe.
#pragma once

#include "TIntImage.h"
#include "TSuperpose.h"
#include "ThumbnailCache.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

class TToothInTime;
class TTooth;

// Keeps a photograph's pixel data in memory while it lives; the last lease to go lets them go.
class TPixelLease {
public:
    TPixelLease() = default;
    // Loads the pixel data when they are not in memory: the bitmap, then its result file. Throws
    // TOrvixError naming the file when the bitmap cannot be read any more.
    explicit TPixelLease(const TTooth* Tooth);
    TPixelLease(TPixelLease&& Other) noexcept : fTooth(std::exchange(Other.fTooth, nullptr)) {}
    TPixelLease& operator=(TPixelLease&& Other) noexcept;
    TPixelLease(const TPixelLease&) = delete;
    TPixelLease& operator=(const TPixelLease&) = delete;
    ~TPixelLease() { reset(); }

    void reset() noexcept;
    TTooth* get() const { return fTooth; }
    explicit operator bool() const { return fTooth != nullptr; }

private:
    TTooth* fTooth = nullptr;
};

// Classes of a superpixel and values of TTooth::Dirty.
enum TKind : int32_t { kBackground = 0, kGreen = 1, kRed = 2 };

// The result file stores this as a 28-byte record with three filler bytes after Fixed.
struct TSuperPixel {
    int32_t Red = 0, Green = 0, Blue = 0; // sums while the table is built, then truncated means
    bool Fixed = false;                   // class set by hand
    int32_t Kind = kBackground;
    int32_t Area = 0;       // pixels with this label
    int32_t MaskedArea = 0; // of which inside the mask
    int32_t Intensity() const { return std::max({Red, Green, Blue}); }
};
static_assert(sizeof(TSuperPixel) == 28);
using TSPVector = std::vector<TSuperPixel>;

class TTooth {
public:
    // Loads the bitmap fname and then its result file. Throws TOrvixError naming the file when the
    // bitmap cannot be read.
    TTooth(const QString& fname, int32_t ID);
    // A photograph known from the thumbnail cache: nothing is decoded until it is leased.
    TTooth(const QString& fname, int32_t ID, const TPhotographSummary& Summary);
    ~TTooth();
    TTooth(const TTooth&) = delete;
    TTooth& operator=(const TTooth&) = delete;

    TToothInTime* Parent = nullptr; // not owned; set by the study
    int32_t ID = 0;
    QString fname;
    QString tname;
    TIntImage Raw;     // as loaded, never changed
    TIntImage Image;   // Raw through TransPars: what is analysed
    TIntImage Contour; // Image with overlays, for display
    int32_t TimePoint = 0;
    double Time = 0;
    TIntVector labels; // superpixel label per pixel of Image; empty when unsegmented
    TIntVector Dirty;  // class per pixel; empty when unsegmented
    TIntVector Mask;   // 1 inside the tooth mask; empty when none is set
    bool DisableMask = false;
    int32_t numlabels = 0;
    int32_t SPnumber = 0;
    TSPVector SPList;
    double Compactness = 0;
    double BGThreshold = 0;
    double RGThreshold = 0;
    double Cleanliness = 0;
    double RArea = 0; // percent of all pixels of Image
    double GArea = 0;
    int32_t MaxIntensity = 0;
    TTransPars TransPars;
    TTransPars NELMPars;
    bool NelmDone = false;

    // Pixel data. A new photograph has them in memory until ReleasePixels or its first lease ends.
    TPixelLease Lease() const { return TPixelLease(this); }
    bool PixelsLoaded() const;
    // Lets the pixel data go when no lease holds them and nothing of them is unsaved; the display
    // thumbnail is kept (and stored in the thumbnail cache, when one is in use). Returns whether
    // they went.
    bool ReleasePixels();
    // State that only memory holds: a transform moved by hand, classes or parameters not yet
    // saved. Such a photograph keeps its pixel data until it is saved.
    bool Unsaved() const;
    // Size of Raw, also while the pixel data are out of memory.
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    // A tooth mask is set (whether or not DisableMask), also while the pixel data are out of memory.
    bool HasMask() const;

    // Photographs of the process with pixel data in memory, and the most there were at once since
    // the last ResetPeakLoaded.
    static int32_t LoadedPhotographs();
    static int32_t PeakLoadedPhotographs();
    static void ResetPeakLoaded();
    // The process's thumbnail cache (none by default): photographs store their summary and
    // thumbnail there when they let their pixel data go.
    static void UseThumbnailCache(std::shared_ptr<TThumbnailCache> Cache);
    static std::shared_ptr<TThumbnailCache> ThumbnailCache();

    bool Done() const { return numlabels > 0; }
    // Segmented, and no superpixel is brighter than black (a failed flash, a lens cap): such a
    // photograph has no tooth, whatever the thresholds.
    bool Black() const { return Done() && MaxIntensity <= 0; }
    double Param(int32_t i) const { return GetParam(i); }

    // Segmentation (superpixel library). The four-argument form stores its parameters first.
    // SPnumber above MaxSuperpixels is lowered to it (whatever set it: the settings, an option, a
    // result file); 0 or less gives no superpixels. Returns 1 when superpixels were produced, else
    // 0 (then labels and Dirty are emptied and nothing else changes). Throws SaveStat's error when
    // the result file cannot be written.
    double DoSuperpixel(int32_t SPNumber, double aCompactness, double aBGThreshold, double aRGThreshold);
    double DoSuperpixel();
    // Discards the segmentation; parameters, mask, transforms and the file on disk stay.
    void DeleteSuperPixels();

    // Classification and measurement.
    void Appraise();
    void SelectBiggest();
    void CalcStat();
    double Area() const { return RArea + GArea; }
    double RGRatio() const { return GArea != 0 ? RArea / GArea : 100; }
    double RPercent() const { return Area() != 0 ? 100 * RArea / Area() : 0; }
    // 0 Area, 1 RArea, 2 GArea, 3 RGRatio, 4 RPercent; 0 for any other index.
    double GetParam(int32_t i) const;
    // Hand classification: no reclassification, drawing or saving. Out-of-range superpixels are ignored.
    void SetSP(int32_t SPNum, int32_t Index);
    void DecSP(int32_t SPNum);
    // The current tooth region becomes the mask (segmented photographs only); saves.
    void SetMask();
    // Copies othertooth's mask, scaled corner to corner, and reclassifies.
    void SetMask(const TTooth& othertooth);

    // Result file: photo.bmp -> photo.sp. SaveStat writes nothing when unsegmented and never
    // replaces the old file unless the new one was written completely; a result file whose
    // permissions do not let this process write it is not replaced either, and a replaced one keeps
    // its mode (and its group where allowed). Throws TOrvixError naming the file when the save
    // fails (full disk, folder or file not writable); the photograph in memory is unaffected.
    void SaveStat() const;
    // All-or-nothing: true when the whole file was read and describes this photograph (values in
    // range, areas those of the class map, superpixel means those of Raw through the stored
    // transform); then Image is Raw through the stored transform. Otherwise false, nothing
    // changed, and StatNote says why when a file was there but not used.
    bool LoadStat();
    QString StatFileName() const;
    QString StatNote; // why LoadStat did not use an existing result file; empty otherwise

    // Alignment onto the reference photograph of this photograph's tooth: its first photograph in
    // time order, or nullptr when the photograph belongs to no tooth series (then nothing happens).
    // - Reference == this: the first photograph is marked aligned (NelmDone) and keeps its transform
    //   and Image; it is never fitted and never re-rendered, so other photographs' fits may read
    //   its Image meanwhile.
    // - NelmDone set: no fit; TransPars := NELMPars, Image is re-rendered from Raw when that changes
    //   the geometry, and the display image is redrawn.
    // - Otherwise one TSuperpose fit of Raw onto Reference->Image from the current TransPars; then
    //   Image := Raw through the new TransPars, NELMPars := TransPars, display redrawn, NelmDone set.
    // If the fit throws (a photograph black in its centre, TOrvixError) nothing of this photograph
    // has changed. Writes this photograph only and reads Reference->Image: a batch worker may align
    // its photograph while others align theirs against the same reference.
    void Superpose(bool Deform, const TOnShow& Showproc, const TTooth* Reference);
    // The same with the first photograph of Parent as the reference; defined with the study, which
    // knows the time order of a tooth's photographs.
    void Superpose(bool Deform, const TOnShow& Showproc);
    // AlignmentCorrelation of Image with reference.Image (the NCC of their edges over the region
    // the fit compares): 1 is a perfect match, below DoubtfulAlignQuality doubtful. Computed on
    // demand.
    double AlignmentQuality(const TTooth& reference) const;
    // The last AlignmentQuality computed against reference, while neither photograph has moved since;
    // NaN otherwise. Kept without pixel data.
    double KnownQuality(const TTooth& reference) const;
    // Remembers Quality as this photograph's alignment quality against reference as both stand.
    void KnowQuality(const TTooth& reference, double Quality) const;

    // Display: normal view (class outlines white, mask outline magenta) and the inspection views
    // 0 classes, 1 intensity, 2..4 red/green/blue means.
    void DrawDirty();
    void DrawAll(int32_t What);
    // Contour scaled smoothly to at most MaxSide pixels on its longer side (never enlarged), for
    // overview thumbnails; a null image when there is no Contour. Without pixel data, the thumbnail
    // kept when they went (at most 512 pixels). Any thread that may read Contour.
    QImage Thumbnail(int32_t MaxSide = 512) const;

    // Builds SPList (truncated colour means, areas) and MaxIntensity from labels and numlabels;
    // labels outside 0 .. numlabels - 1 make the photograph unsegmented instead.
    void BuildSuperPixelTable();

private:
    friend class TPixelLease;
    void CalcMaskedArea();
    // The scalar state as last loaded or saved, which tells Unsaved state from saved.
    struct TSavedState {
        TTransPars TransPars, NELMPars;
        bool NelmDone = false, DisableMask = false, HasMask = false;
        int32_t numlabels = 0, SPnumber = 0;
        double Compactness = 0, BGThreshold = 0, RGThreshold = 0;
        bool operator==(const TSavedState& b) const;
    };
    TSavedState CurrentState() const; // with fPixelLock held, as the ...Locked functions
    QImage ThumbnailLocked(int32_t MaxSide) const;
    bool HasMaskLocked() const;
    // What is kept of the photograph without its pixel data, for the thumbnail cache.
    TPhotographSummary SummaryLocked(const QImage& Thumbnail) const;
    void NoteSaved() const;
    void LoadPixelsLocked();
    void SetSize();
    void ReleaseLocked();
    void Acquire() const;
    void Release() const;

    mutable std::mutex fPixelLock;
    mutable int32_t fLeases = 0;
    bool fLoaded = false;
    int32_t fWidth = 0, fHeight = 0;
    bool fHasMask = false;
    QImage fThumb; // kept while the pixel data are out of memory
    mutable TSavedState fSaved;
    struct TQuality {
        double Value = std::numeric_limits<double>::quiet_NaN();
        TTransPars Own, Reference;
        TFileStamp RefBitmap, RefResult; // the reference's files when Value was computed
    };
    mutable TQuality fQuality;
};

bool SameTransPars(const TTransPars& a, const TTransPars& b);

// The result file of a bitmap: photo.bmp -> photo.sp beside it.
QString ResultFileName(const QString& BitmapFile);

// Paints in pixels (width x height) every pixel with two or more not-yet-painted differently
// labelled neighbours, which gives boundaries about one pixel wide.
void MarkContours(TIntVector& pixels, const TIntVector& labels, int32_t width, int32_t height,
                  int32_t colour);
