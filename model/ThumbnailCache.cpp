#include "ThumbnailCache.h"

#include "Streams.h"

#include <QBuffer>
#include <QImageWriter>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

// An entry file, little-endian:
//   "OTCE", int32 version                       the header, the one part every version keeps
//   bitmap stamp, result stamp                  the key; a stamp is string path, int64 size, int64 time
//   the summary's fields in declaration order   int32, bool as one byte, double, string as an int32
//                                               count of UTF-16 units and the units
//   int32 QImage::Format, int32 n, n bytes PNG  the thumbnail; format 0 and no bytes: none
//   20 bytes SHA-1 of everything before it
// A reader that meets another version leaves the entry alone, so everything after the header,
// the checksum included, may change with the version.

namespace {

constexpr char EntryMagic[4] = {'O', 'T', 'C', 'E'};
constexpr int32_t EntryVersion = 1;
constexpr qsizetype HeaderBytes = 8;
constexpr qsizetype ChecksumBytes = 20;
// A thumbnail of 512 pixels comes nowhere near this: a larger file is not one of our entries.
constexpr qint64 MaxEntryBytes = qint64(64) << 20;

enum class TEntryRead { erFound, erOtherKey, erOtherVersion, erDamaged };

struct TCacheFile {
    QString Path, Name;
    int64_t Size, Modified;
};

void StreamWriteInt64(TStreamOut& stream, int64_t value)
{
    stream.WriteRaw(&value, 8);
}

void StreamReadInt64(TStreamIn& stream, int64_t& value)
{
    stream.ReadRaw(&value, 8);
}

// UTF-16 units as they stand, so that any path, even one that is not valid Unicode, comes back equal.
void StreamWriteString(TStreamOut& stream, const QString& value)
{
    StreamWriteInt(stream, int32_t(value.size()));
    stream.WriteRaw(value.utf16(), size_t(value.size()) * 2);
}

void StreamReadString(TStreamIn& stream, QString& value)
{
    int32_t n;
    StreamReadInt(stream, n);
    if (n < 0 || size_t(n) > stream.Remaining() / 2)
        StreamReadError();
    QString s(n, Qt::Uninitialized);
    stream.ReadRaw(s.data(), size_t(n) * 2);
    value = std::move(s);
}

void StreamWriteStamp(TStreamOut& stream, const TFileStamp& stamp)
{
    StreamWriteString(stream, stamp.Path);
    StreamWriteInt64(stream, stamp.Size);
    StreamWriteInt64(stream, stamp.Modified);
}

void StreamReadStamp(TStreamIn& stream, TFileStamp& stamp)
{
    StreamReadString(stream, stamp.Path);
    StreamReadInt64(stream, stamp.Size);
    StreamReadInt64(stream, stamp.Modified);
}

void StreamWriteSummary(TStreamOut& s, const TPhotographSummary& m)
{
    StreamWriteInt(s, m.Width);
    StreamWriteInt(s, m.Height);
    StreamWriteBool(s, m.DisableMask);
    StreamWriteBool(s, m.HasMask);
    StreamWriteInt(s, m.numlabels);
    StreamWriteInt(s, m.SPnumber);
    StreamWriteTransPars(s, m.TransPars);
    StreamWriteTransPars(s, m.NELMPars);
    StreamWriteBool(s, m.NelmDone);
    for (double v : {m.Compactness, m.BGThreshold, m.RGThreshold, m.Cleanliness, m.RArea, m.GArea})
        StreamWriteDouble(s, v);
    StreamWriteInt(s, m.MaxIntensity);
    StreamWriteString(s, m.StatNote);
    StreamWriteDouble(s, m.Quality);
    StreamWriteStamp(s, m.RefBitmap);
    StreamWriteStamp(s, m.RefResult);
}

void StreamReadSummary(TStreamIn& s, TPhotographSummary& m)
{
    StreamReadInt(s, m.Width);
    StreamReadInt(s, m.Height);
    StreamReadBool(s, m.DisableMask);
    StreamReadBool(s, m.HasMask);
    StreamReadInt(s, m.numlabels);
    StreamReadInt(s, m.SPnumber);
    StreamReadTransPars(s, m.TransPars);
    StreamReadTransPars(s, m.NELMPars);
    StreamReadBool(s, m.NelmDone);
    for (double* v : {&m.Compactness, &m.BGThreshold, &m.RGThreshold, &m.Cleanliness, &m.RArea, &m.GArea})
        StreamReadDouble(s, *v);
    StreamReadInt(s, m.MaxIntensity);
    StreamReadString(s, m.StatNote);
    StreamReadDouble(s, m.Quality);
    StreamReadStamp(s, m.RefBitmap);
    StreamReadStamp(s, m.RefResult);
}

// Nothing when the thumbnail cannot be encoded.
std::optional<QByteArray> EncodeEntry(const TCacheEntry& entry)
{
    const QImage& thumbnail = entry.Summary.Thumbnail;
    QByteArray png;
    if (!thumbnail.isNull()) {
        QBuffer buffer(&png);
        // zlib's fastest level: a third of the time of the default for a slightly larger file,
        // and a batch stores one entry per photograph.
        QImageWriter writer(&buffer, "PNG");
        writer.setCompression(1);
        if (!buffer.open(QIODevice::WriteOnly) || !writer.write(thumbnail))
            return std::nullopt;
    }
    TStreamOut s;
    s.WriteRaw(EntryMagic, sizeof EntryMagic);
    StreamWriteInt(s, EntryVersion);
    StreamWriteStamp(s, entry.Bitmap);
    StreamWriteStamp(s, entry.Result);
    StreamWriteSummary(s, entry.Summary);
    StreamWriteInt(s, int32_t(thumbnail.format()));
    StreamWriteInt(s, int32_t(png.size()));
    s.WriteRaw(png.constData(), size_t(png.size()));
    QByteArray bytes(s.Bytes.data(), qsizetype(s.Bytes.size()));
    bytes += QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    return bytes;
}

// The thumbnail comes back in the format it was stored in: PNG knows only a few.
QImage ReadThumbnail(TStreamIn& s)
{
    int32_t format, n;
    StreamReadInt(s, format);
    StreamReadInt(s, n);
    if (format < 0 || format >= QImage::NImageFormats || n < 0 || size_t(n) > s.Remaining() ||
        (format == QImage::Format_Invalid) != (n == 0))
        StreamReadError();
    if (n == 0)
        return QImage();
    QByteArray png(n, Qt::Uninitialized);
    s.ReadRaw(png.data(), size_t(n));
    QImage image;
    if (!image.loadFromData(png, "PNG"))
        StreamReadError();
    image.convertTo(QImage::Format(format));
    if (image.isNull())
        StreamReadError();
    return image;
}

// The key is compared before the thumbnail is decoded: a stale entry costs no PNG decoding.
TEntryRead ReadEntry(const QByteArray& bytes, const TFileStamp& bitmap, const TFileStamp& result,
                     TCacheEntry& entry)
{
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.constData(), EntryMagic, sizeof EntryMagic) != 0)
        return TEntryRead::erDamaged;
    int32_t version;
    std::memcpy(&version, bytes.constData() + sizeof EntryMagic, sizeof version);
    if (version != EntryVersion)
        return TEntryRead::erOtherVersion;
    const qsizetype payload = bytes.size() - ChecksumBytes;
    if (payload < HeaderBytes ||
        QCryptographicHash::hash(QByteArrayView(bytes.constData(), payload), QCryptographicHash::Sha1) !=
            QByteArrayView(bytes.constData() + payload, ChecksumBytes))
        return TEntryRead::erDamaged;
    try {
        TStreamIn s(bytes.constData() + HeaderBytes, size_t(payload - HeaderBytes));
        StreamReadStamp(s, entry.Bitmap);
        StreamReadStamp(s, entry.Result);
        if (entry.Bitmap != bitmap || entry.Result != result)
            return TEntryRead::erOtherKey;
        StreamReadSummary(s, entry.Summary);
        entry.Summary.Thumbnail = ReadThumbnail(s);
        return s.Remaining() == 0 ? TEntryRead::erFound : TEntryRead::erDamaged;
    } catch (const TOrvixError&) {
        return TEntryRead::erDamaged;
    }
}

// No fsync: an entry cut short by a crash fails its checksum and is only a cache miss. The
// temporary file keeps its private mode 0600, right for thumbnails of patients' photographs.
bool ReplaceFile(const QString& path, const QByteArray& bytes)
{
    QTemporaryFile temp(path + ".XXXXXX");
    if (!temp.open() || temp.write(bytes) != bytes.size() || !temp.flush())
        return false;
    temp.close();
    if (temp.error() != QFileDevice::NoError ||
        std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

// Entries and the temporary files of Stores that never finished.
std::vector<TCacheFile> ListCacheFiles(const QString& folder)
{
    std::vector<TCacheFile> files;
    QDirIterator it(folder, {"*.entry", "*.entry.*"}, QDir::Files | QDir::NoSymLinks);
    while (it.hasNext()) {
        const QString path = it.next();
        const TFileStamp stamp = TFileStamp::Of(path);
        if (stamp.Size >= 0)
            files.push_back({path, it.fileName(), stamp.Size, stamp.Modified});
    }
    return files;
}

int64_t CacheBytes(const QString& folder)
{
    int64_t total = 0;
    for (const TCacheFile& f : ListCacheFiles(folder))
        total += f.Size;
    return total;
}

// Removes the oldest files until at most target bytes are left; returns what is left. The file
// named keep goes last whatever its time: times of files written within one clock tick tie, and
// it is the entry its caller is about to want.
int64_t TrimFolder(const QString& folder, int64_t target, const QString& keep)
{
    std::vector<TCacheFile> files = ListCacheFiles(folder);
    int64_t total = 0;
    for (const TCacheFile& f : files)
        total += f.Size;
    std::sort(files.begin(), files.end(), [&keep](const TCacheFile& a, const TCacheFile& b) {
        if ((a.Name == keep) != (b.Name == keep))
            return b.Name == keep;
        if (a.Modified != b.Modified)
            return a.Modified < b.Modified;
        return a.Name < b.Name;
    });
    for (const TCacheFile& f : files) {
        if (total <= target)
            break;
        if (QFile::remove(f.Path))
            total -= f.Size;
    }
    return total;
}

} // namespace

TFileStamp TFileStamp::Of(const QString& Path)
{
    TFileStamp stamp;
    if (Path.isEmpty())
        return stamp;
    stamp.Path = QFileInfo(Path).absoluteFilePath();
    struct stat st {};
    if (::stat(QFile::encodeName(stamp.Path).constData(), &st) == 0) {
        stamp.Size = st.st_size;
        // Nanoseconds: a result file can be rewritten at the same size within one millisecond.
        stamp.Modified = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    return stamp;
}

TThumbnailCache::TThumbnailCache(QString Folder, int64_t MaxBytes)
    : fFolder(std::move(Folder)), fMaxBytes(std::max<int64_t>(MaxBytes, 0))
{
}

QString TThumbnailCache::DefaultFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + "/orvix/thumbnails";
}

QString TThumbnailCache::EntryFile(const QString& BitmapPath) const
{
    const QByteArray hash = QCryptographicHash::hash(BitmapPath.toUtf8(), QCryptographicHash::Sha1);
    return QDir(fFolder).filePath(QString::fromLatin1(hash.toHex()) + ".entry");
}

std::optional<TCacheEntry> TThumbnailCache::Find(const TFileStamp& Bitmap, const TFileStamp& Result) const
{
    if (fFolder.isEmpty() || Bitmap.Path.isEmpty())
        return std::nullopt;
    try {
        const QString path = EntryFile(Bitmap.Path);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray bytes = file.size() <= MaxEntryBytes ? file.readAll() : QByteArray();
        file.close();
        TCacheEntry entry;
        switch (ReadEntry(bytes, Bitmap, Result, entry)) {
        case TEntryRead::erFound:
            // The file's time is its last use, which Trim goes by.
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
            return entry;
        case TEntryRead::erDamaged: {
            std::lock_guard lock(fLock);
            const int64_t size = TFileStamp::Of(path).Size;
            if (QFile::remove(path) && fKnownBytes >= 0 && size > 0)
                fKnownBytes = std::max<int64_t>(fKnownBytes - size, 0);
            return std::nullopt;
        }
        case TEntryRead::erOtherKey:
        case TEntryRead::erOtherVersion:
            return std::nullopt;
        }
    } catch (...) {
    }
    return std::nullopt;
}

void TThumbnailCache::Store(const TCacheEntry& Entry)
{
    if (fFolder.isEmpty() || Entry.Bitmap.Path.isEmpty())
        return;
    try {
        // Encoded before taking the lock: the PNG is the slow part, and workers store in parallel.
        const std::optional<QByteArray> bytes = EncodeEntry(Entry);
        if (!bytes)
            return;
        const QString path = EntryFile(Entry.Bitmap.Path);
        std::lock_guard lock(fLock);
        if (!QDir().mkpath(fFolder))
            return;
        if (fKnownBytes < 0)
            fKnownBytes = CacheBytes(fFolder);
        const int64_t replaced = std::max<int64_t>(TFileStamp::Of(path).Size, 0);
        if (!ReplaceFile(path, *bytes))
            return;
        fKnownBytes += bytes->size() - replaced;
        // Below the bound, so that a full cache is not listed again at the very next Store.
        if (fKnownBytes > fMaxBytes)
            fKnownBytes = TrimFolder(fFolder, fMaxBytes - fMaxBytes / 8, QFileInfo(path).fileName());
    } catch (...) {
    }
}

void TThumbnailCache::Trim()
{
    if (fFolder.isEmpty())
        return;
    try {
        std::lock_guard lock(fLock);
        fKnownBytes = TrimFolder(fFolder, fMaxBytes, QString());
    } catch (...) {
    }
}
