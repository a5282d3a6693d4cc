// A cache on disk of what a study keeps of each photograph without its pixel data (its summary and
// its display thumbnail), so that re-opening a study decodes no photograph whose files have not
// changed. One entry per photograph, keyed by the bitmap's and the result file's path, size and
// modification time; bounded in size, oldest entries out first. A cache is an optimisation only:
// every failure to read or write it is silent and leaves the caller to decode the photograph.
#pragma once

#include "TIntImage.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

// A file as it was when an entry was made. Size -1: there was no such file.
struct TFileStamp {
    QString Path; // absolute
    int64_t Size = -1;
    int64_t Modified = 0; // nanoseconds since the epoch
    // Path made absolute (symbolic links kept); an empty Path gives the empty stamp.
    static TFileStamp Of(const QString& Path);
    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

// What a study keeps of a photograph while its pixel data are not in memory.
struct TPhotographSummary {
    int32_t Width = 0, Height = 0;
    bool DisableMask = false;
    bool HasMask = false;
    int32_t numlabels = 0, SPnumber = 0;
    TTransPars TransPars, NELMPars;
    bool NelmDone = false;
    double Compactness = 0, BGThreshold = 0, RGThreshold = 0, Cleanliness = 0, RArea = 0, GArea = 0;
    int32_t MaxIntensity = 0;
    QString StatNote;
    // Alignment quality against the reference photograph whose files were RefBitmap and RefResult
    // (empty paths: not computed); NaN when there is none.
    double Quality = std::numeric_limits<double>::quiet_NaN();
    TFileStamp RefBitmap, RefResult;
    QImage Thumbnail; // the display image scaled to at most 512 pixels on its longer side
};

struct TCacheEntry {
    TFileStamp Bitmap, Result; // the key
    TPhotographSummary Summary;
};

class TThumbnailCache {
public:
    static constexpr int64_t DefaultMaxBytes = int64_t(1) << 30;

    // Folder is created when the first entry is stored; an empty Folder makes a cache that holds
    // nothing. A negative MaxBytes counts as 0.
    explicit TThumbnailCache(QString Folder, int64_t MaxBytes = DefaultMaxBytes);
    // The per-user cache folder of the program: <QStandardPaths::GenericCacheLocation>/orvix/thumbnails
    // (~/.cache/orvix/thumbnails, or under $XDG_CACHE_HOME); empty when the system names no cache
    // location.
    static QString DefaultFolder();

    const QString& Folder() const { return fFolder; }
    int64_t MaxBytes() const { return fMaxBytes; }

    // The entry of the photograph whose files are now Bitmap and Result; nothing when there is none,
    // when it was made for other versions of the files, or when it is damaged (a damaged entry is
    // removed). A hit makes the entry the most recently used. Any thread.
    std::optional<TCacheEntry> Find(const TFileStamp& Bitmap, const TFileStamp& Result) const;
    // Stores Entry in place of any older entry of its bitmap, then trims the cache when it has grown
    // beyond MaxBytes: down to 7/8 of it, sparing Entry's own file as long as others are left.
    // Written through a temporary file, so a reader never sees half an entry. Any thread; never
    // throws.
    void Store(const TCacheEntry& Entry);
    // Removes the least recently stored or used entries until the cache holds at most MaxBytes
    // (leftover temporary files of an interrupted Store count as entries). Any thread; never throws.
    void Trim();

private:
    QString EntryFile(const QString& BitmapPath) const;

    QString fFolder;
    int64_t fMaxBytes;
    mutable std::mutex fLock;
    mutable int64_t fKnownBytes = -1; // the size as last counted, kept up by Store and Find; -1 unknown
};
