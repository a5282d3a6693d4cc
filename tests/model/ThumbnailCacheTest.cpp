#include "QtPrinters.h"
#include "ThumbnailCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <thread>

void PrintTo(const TFileStamp& s, std::ostream* os)
{
    *os << '{' << s.Path.toStdString() << ", " << s.Size << ", " << s.Modified << '}';
}

namespace {

constexpr int64_t Second = 1'000'000'000;
// An arbitrary moment in 2023, with nanoseconds that no millisecond clock keeps.
constexpr int64_t Then = 1'700'000'000 * Second + 123'456'789;

void SetModified(const QString& path, int64_t ns)
{
    const timespec t{time_t(ns / Second), long(ns % Second)};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0) << path.toStdString();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QImage RandomImage(int w, int h, uint32_t seed)
{
    std::mt19937 random(seed);
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, 0xff000000u | (random() & 0xffffffu));
    return image;
}

TTransPars Pars(double first)
{
    TTransPars p;
    double* fields[] = {&p.cosa, &p.sina, &p.fAngle, &p.Shiftx, &p.Shifty, &p.Scalex, &p.Scaley, &p.Coeff};
    for (double* f : fields)
        *f = first++ / 3;
    return p;
}

// Every field away from its default, so that a field left out of the file shows.
TCacheEntry FullEntry(const TFileStamp& bitmap, const TFileStamp& result, uint32_t seed = 1)
{
    TCacheEntry e{bitmap, result, {}};
    TPhotographSummary& m = e.Summary;
    m.Width = 640;
    m.Height = 480;
    m.DisableMask = true;
    m.HasMask = true;
    m.numlabels = 397;
    m.SPnumber = 400;
    m.TransPars = Pars(1);
    m.NELMPars = Pars(-20);
    m.NelmDone = true;
    m.Compactness = 20.5;
    m.BGThreshold = 0.45;
    m.RGThreshold = -0.125;
    m.Cleanliness = 0.8125;
    m.RArea = 1234.5;
    m.GArea = -0.0;
    m.MaxIntensity = 251;
    m.StatNote = QString::fromUtf8("Größe geändert \u2013 \U0001F9B7");
    m.RefBitmap = {"/study/visit1/P11000.bmp", 921654, Then - 7};
    m.RefResult = {"/study/visit1/P11000.sp", 5120, Then + 9};
    m.Thumbnail = RandomImage(7, 5, seed);
    return e;
}

void ExpectSameBits(double a, double b, const char* name)
{
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << name << ": " << a << " and " << b;
}

void ExpectSamePars(const TTransPars& a, const TTransPars& b)
{
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

void ExpectSamePixels(const QImage& a, const QImage& b)
{
    ASSERT_EQ(a.isNull(), b.isNull());
    EXPECT_EQ(a.format(), b.format());
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differing += a.pixel(x, y) != b.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

void ExpectSameEntry(const TCacheEntry& a, const TCacheEntry& b)
{
    EXPECT_EQ(a.Bitmap, b.Bitmap);
    EXPECT_EQ(a.Result, b.Result);
    const TPhotographSummary &x = a.Summary, &y = b.Summary;
    EXPECT_EQ((std::array{x.Width, x.Height, x.numlabels, x.SPnumber, x.MaxIntensity}),
              (std::array{y.Width, y.Height, y.numlabels, y.SPnumber, y.MaxIntensity}));
    EXPECT_EQ((std::array{x.DisableMask, x.HasMask, x.NelmDone}),
              (std::array{y.DisableMask, y.HasMask, y.NelmDone}));
    ExpectSamePars(x.TransPars, y.TransPars);
    ExpectSamePars(x.NELMPars, y.NELMPars);
    ExpectSameBits(x.Compactness, y.Compactness, "Compactness");
    ExpectSameBits(x.BGThreshold, y.BGThreshold, "BGThreshold");
    ExpectSameBits(x.RGThreshold, y.RGThreshold, "RGThreshold");
    ExpectSameBits(x.Cleanliness, y.Cleanliness, "Cleanliness");
    ExpectSameBits(x.RArea, y.RArea, "RArea");
    ExpectSameBits(x.GArea, y.GArea, "GArea");
    ExpectSameBits(x.Quality, y.Quality, "Quality");
    EXPECT_EQ(x.StatNote, y.StatNote);
    EXPECT_EQ(x.RefBitmap, y.RefBitmap);
    EXPECT_EQ(x.RefResult, y.RefResult);
    ExpectSamePixels(x.Thumbnail, y.Thumbnail);
}

class ThumbnailCacheTest : public testing::Test {
protected:
    QTemporaryDir Dir;

    QString Folder() const { return Dir.filePath("cache"); }
    QString Path(const QString& name) const { return Dir.filePath(name); }

    // A file of size bytes modified at Then.
    QString MakeFile(const QString& name, int size = 100)
    {
        const QString path = Path(name);
        WriteAll(path, QByteArray(size, 'x'));
        SetModified(path, Then);
        return path;
    }

    // Every file in the cache folder.
    QStringList CacheFiles() const { return QDir(Folder()).entryList(QDir::Files, QDir::Name); }

    int64_t CacheBytes() const
    {
        int64_t total = 0;
        for (const QString& name : CacheFiles())
            total += QFileInfo(QDir(Folder()).filePath(name)).size();
        return total;
    }

    // Stores entry and returns the path of the file it added.
    QString StoreNew(TThumbnailCache& cache, const TCacheEntry& entry)
    {
        const QStringList before = CacheFiles();
        cache.Store(entry);
        for (const QString& name : CacheFiles())
            if (!before.contains(name))
                return QDir(Folder()).filePath(name);
        ADD_FAILURE() << "Store added no file";
        return QString();
    }
};

TEST_F(ThumbnailCacheTest, StampsKeepNanosecondsAndMarkMissingFiles)
{
    const QString path = MakeFile("P11000.bmp", 321);
    SetModified(path, Then + 1);
    EXPECT_EQ(TFileStamp::Of(path), (TFileStamp{path, 321, Then + 1}));

    const TFileStamp missing = TFileStamp::Of(Path("P11000.sp"));
    EXPECT_EQ(missing, (TFileStamp{Path("P11000.sp"), -1, 0}));
    EXPECT_EQ(TFileStamp::Of(QString()), TFileStamp());
}

TEST_F(ThumbnailCacheTest, DefaultFolderIsUnderTheUsersCacheLocation)
{
    const QByteArray old = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(Path("xdg")));
    const QString folder = TThumbnailCache::DefaultFolder();
    old.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", old);
    EXPECT_EQ(folder, Path("xdg") + "/orvix/thumbnails");
}

TEST_F(ThumbnailCacheTest, EntriesComeBackWithEveryField)
{
    const TFileStamp bitmap = TFileStamp::Of(MakeFile("P11000.bmp"));
    const TFileStamp result = TFileStamp::Of(MakeFile("P11000.sp"));
    // Quality left NaN: compared bit for bit, as every real is.
    TCacheEntry full = FullEntry(bitmap, result);
    // No result file yet, no thumbnail, an alignment quality, an empty note.
    TCacheEntry bare = FullEntry(TFileStamp::Of(MakeFile("P21000.bmp")), TFileStamp::Of(Path("P21000.sp")));
    bare.Summary.Thumbnail = QImage();
    bare.Summary.Quality = 0.875;
    bare.Summary.StatNote.clear();
    // A thumbnail with transparency keeps its format, which PNG does not know.
    TCacheEntry premultiplied = FullEntry(TFileStamp::Of(MakeFile("P31000.bmp")), result);
    premultiplied.Summary.Thumbnail = QImage(4, 3, QImage::Format_ARGB32_Premultiplied);
    premultiplied.Summary.Thumbnail.fill(QColor(255, 0, 0, 255));
    premultiplied.Summary.Thumbnail.setPixel(1, 1, qRgba(0, 0, 0, 0));

    TThumbnailCache cache(Folder());
    for (const TCacheEntry* e : {&full, &bare, &premultiplied})
        cache.Store(*e);
    for (const TCacheEntry* e : {&full, &bare, &premultiplied}) {
        SCOPED_TRACE(e->Bitmap.Path.toStdString());
        const std::optional<TCacheEntry> found = cache.Find(e->Bitmap, e->Result);
        ASSERT_TRUE(found);
        ExpectSameEntry(*found, *e);
    }
}

TEST_F(ThumbnailCacheTest, StoreReplacesTheEntryOfTheSameBitmap)
{
    const TFileStamp bitmap = TFileStamp::Of(MakeFile("P11000.bmp"));
    const TFileStamp before = TFileStamp::Of(Path("P11000.sp"));
    const TFileStamp after = TFileStamp::Of(MakeFile("P11000.sp"));
    TThumbnailCache cache(Folder());
    cache.Store(FullEntry(bitmap, before, 1));
    cache.Store(FullEntry(bitmap, after, 2));

    EXPECT_EQ(CacheFiles().size(), 1);
    EXPECT_FALSE(cache.Find(bitmap, before));
    const std::optional<TCacheEntry> found = cache.Find(bitmap, after);
    ASSERT_TRUE(found);
    ExpectSamePixels(found->Summary.Thumbnail, RandomImage(7, 5, 2));
}

// A photograph whose bitmap or result file changed after its entry was stored.
struct TMissCase {
    const char* Name;
    bool ResultAtStore;
    std::function<void(const QString& bitmap, const QString& result)> Change;
};

void PrintTo(const TMissCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ThumbnailCacheMissTest : public ThumbnailCacheTest, public testing::WithParamInterface<TMissCase> {};

TEST_P(ThumbnailCacheMissTest, ChangedFilesFindNothingAndKeepTheEntry)
{
    const QString bitmap = MakeFile("P11000.bmp");
    const QString result = GetParam().ResultAtStore ? MakeFile("P11000.sp") : Path("P11000.sp");
    TThumbnailCache cache(Folder());
    const TCacheEntry entry = FullEntry(TFileStamp::Of(bitmap), TFileStamp::Of(result));
    cache.Store(entry);
    ASSERT_TRUE(cache.Find(TFileStamp::Of(bitmap), TFileStamp::Of(result)));

    GetParam().Change(bitmap, result);
    const std::pair now(TFileStamp::Of(bitmap), TFileStamp::Of(result));
    ASSERT_NE(now, std::pair(entry.Bitmap, entry.Result));
    EXPECT_FALSE(cache.Find(now.first, now.second));
    EXPECT_EQ(CacheFiles().size(), 1); // not damaged, only out of date: the next Store replaces it
}

void Append(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("y");
    f.close();
    SetModified(path, Then); // only the size tells
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ThumbnailCacheMissTest,
    testing::Values(TMissCase{"BitmapGrew", true, [](const QString& b, const QString&) { Append(b); }},
                    TMissCase{"BitmapTouched", true,
                              [](const QString& b, const QString&) { SetModified(b, Then + Second); }},
                    TMissCase{"ResultGrew", true, [](const QString&, const QString& r) { Append(r); }},
                    TMissCase{"ResultRewrittenInTheSameMillisecond", true,
                              [](const QString&, const QString& r) { SetModified(r, Then + 1); }},
                    TMissCase{"ResultAppeared", false,
                              [](const QString&, const QString& r) { WriteAll(r, QByteArray(100, 'x')); }},
                    TMissCase{"ResultDisappeared", true,
                              [](const QString&, const QString& r) { ASSERT_TRUE(QFile::remove(r)); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ThumbnailCacheTest, DamagedEntriesFindNothingAndAreRemoved)
{
    const TFileStamp bitmap = TFileStamp::Of(MakeFile("P11000.bmp"));
    const TFileStamp result = TFileStamp::Of(MakeFile("P11000.sp"));
    TThumbnailCache cache(Folder());
    const QString file = StoreNew(cache, FullEntry(bitmap, result));
    const QByteArray good = ReadAll(file);
    ASSERT_GT(good.size(), 100);

    struct TDamage {
        std::string Name;
        QByteArray Bytes;
        bool Kept;
    };
    std::vector<TDamage> damages = {
        {"empty", QByteArray(), false},
        {"header only", good.left(8), false},
        {"cut before the checksum", good.left(good.size() - 20), false},
        {"last byte missing", good.chopped(1), false},
        {"one byte more", good + 'z', false},
        {"text", "not an entry at all", false},
    };
    std::mt19937 random(13);
    QByteArray garbage(good.size(), Qt::Uninitialized);
    for (char& c : garbage)
        c = char(random());
    damages.push_back({"garbage", garbage, false});
    // Bytes 4-7 hold the version: an entry of another version is left to the program that wrote it.
    for (qsizetype i = 0; i < good.size(); ++i) {
        QByteArray flipped = good;
        flipped[i] = char(flipped[i] ^ 0x10);
        damages.push_back({"byte " + std::to_string(i) + " flipped", flipped, i >= 4 && i < 8});
    }

    for (const TDamage& d : damages) {
        SCOPED_TRACE(d.Name);
        WriteAll(file, d.Bytes);
        EXPECT_FALSE(cache.Find(bitmap, result));
        EXPECT_EQ(QFileInfo::exists(file), d.Kept);
    }
    WriteAll(file, good);
    EXPECT_TRUE(cache.Find(bitmap, result));
}

TEST_F(ThumbnailCacheTest, TrimRemovesTheLeastRecentlyUsedFirst)
{
    TThumbnailCache cache(Folder());
    std::vector<TCacheEntry> entries;
    std::vector<QString> files;
    for (int i = 0; i < 4; ++i) {
        const QString name = QString("P%1000").arg(11 + i);
        entries.push_back(
            FullEntry(TFileStamp::Of(MakeFile(name + ".bmp")), TFileStamp::Of(MakeFile(name + ".sp"))));
        files.push_back(StoreNew(cache, entries.back()));
        SetModified(files.back(), Then + i * Second);
    }
    // Used last, so newest, although stored first.
    ASSERT_TRUE(cache.Find(entries[0].Bitmap, entries[0].Result));
    // What a Store cut short by a crash leaves, older than every entry; and a file that is not the
    // cache's, which neither counts nor goes.
    const QString leftover = Folder() + "/0123.entry.AbCdEf";
    WriteAll(leftover, QByteArray(50, 'x'));
    SetModified(leftover, Then - Second);
    const QString foreign = Folder() + "/notes.txt";
    WriteAll(foreign, QByteArray(100'000, 'x'));
    SetModified(foreign, Then - Second);

    const int64_t bound = QFileInfo(files[0]).size() + QFileInfo(files[3]).size();
    TThumbnailCache(Folder(), bound).Trim();

    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(QFileInfo::exists(files[size_t(i)]), i == 0 || i == 3) << i;
    EXPECT_FALSE(QFileInfo::exists(leftover));
    EXPECT_TRUE(QFileInfo::exists(foreign));
    EXPECT_TRUE(cache.Find(entries[3].Bitmap, entries[3].Result));
}

TEST_F(ThumbnailCacheTest, StoringStaysWithinTheBoundAndKeepsTheNewestEntry)
{
    const TFileStamp result = TFileStamp::Of(MakeFile("P11000.sp"));
    // Paths of one length and one thumbnail: entries of one size.
    const auto entry = [&](int i) {
        return FullEntry(TFileStamp::Of(MakeFile(QString("P%1000.bmp").arg(10 + i))), result);
    };
    TThumbnailCache unbounded(Folder());
    const int64_t bound = QFileInfo(StoreNew(unbounded, entry(0))).size() * 7 / 2;

    TThumbnailCache cache(Folder(), bound);
    for (int i = 1; i < 12; ++i) {
        SCOPED_TRACE(i);
        const TCacheEntry e = entry(i);
        cache.Store(e);
        EXPECT_LE(CacheBytes(), bound);
        EXPECT_TRUE(cache.Find(e.Bitmap, e.Result));
    }
    EXPECT_GE(CacheFiles().size(), 2);
}

// Workers store their photographs' entries at once, and all of them the entry of one shared
// photograph; a small bound makes them trim while the others write.
class ThumbnailCacheThreadTest : public ThumbnailCacheTest, public testing::WithParamInterface<int64_t> {};

TEST_P(ThumbnailCacheThreadTest, ConcurrentStoresLeaveWholeEntries)
{
    constexpr int threads = 4, perThread = 20;
    const auto entry = [](int t, int i) {
        const TFileStamp bitmap{QString("/study/t%1/P%2000.bmp").arg(t).arg(10 + i), 1000 + i, Then + i};
        return FullEntry(bitmap, {bitmap.Path.chopped(4) + ".sp", 50 + t, Then + t}, uint32_t(t * 100 + i));
    };
    const auto shared = [](int t) {
        return FullEntry({"/study/shared.bmp", 1, Then}, {"/study/shared.sp", t, Then}, uint32_t(1000 + t));
    };
    TThumbnailCache cache(Folder(), GetParam());
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                cache.Store(entry(t, i));
                cache.Store(shared(t));
            }
        });
    for (std::thread& w : workers)
        w.join();

    int found = 0;
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i) {
            const TCacheEntry e = entry(t, i);
            if (const auto hit = cache.Find(e.Bitmap, e.Result)) {
                ++found;
                ExpectSamePixels(hit->Summary.Thumbnail, e.Summary.Thumbnail);
            }
        }
    int sharedFound = 0;
    for (int t = 0; t < threads; ++t)
        sharedFound += bool(cache.Find(shared(t).Bitmap, shared(t).Result));
    EXPECT_LE(CacheBytes(), GetParam());
    for (const QString& name : CacheFiles())
        EXPECT_TRUE(name.endsWith(".entry")) << name.toStdString();
    if (GetParam() == TThumbnailCache::DefaultMaxBytes) {
        EXPECT_EQ(found, threads * perThread);
        EXPECT_EQ(sharedFound, 1);
    } else {
        EXPECT_GT(found + sharedFound, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Bounds, ThumbnailCacheThreadTest,
                         testing::Values(TThumbnailCache::DefaultMaxBytes, 8000),
                         [](const auto& info) {
                             return info.param == TThumbnailCache::DefaultMaxBytes ? "Unbounded" : "Small";
                         });

} // namespace
