// The study and its intake from a folder.
#include "TTeeth.h"

#include "BitmapLoader.h"
#include "FileList.h"
#include "Memory.h"
#include "Nomenclature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <thread>

TTooth* TToothInTime::Add(std::unique_ptr<TTooth> Tooth)
{
    Tooth->Parent = this;
    fItems.push_back(std::move(Tooth));
    return fItems.back().get();
}

TTooth* TToothInTime::GetToothAt(int32_t TimePoint) const
{
    for (const auto& t : fItems)
        if (t->TimePoint == TimePoint)
            return t.get();
    return nullptr;
}

QString TToothInTime::Name() const
{
    return fItems.empty() ? QString() : fItems.front()->tname;
}

void TToothInTime::Sort()
{
    const TTimeComparer comparer;
    std::stable_sort(fItems.begin(), fItems.end(),
                     [&](const auto& a, const auto& b) { return comparer.Compare(*a, *b) < 0; });
}

int TToothComparer::Compare(const TToothInTime& Left, const TToothInTime& Right) const
{
    return (Left.ID > Right.ID) - (Left.ID < Right.ID);
}

int TTimeComparer::Compare(const TTooth& Left, const TTooth& Right) const
{
    return (Left.TimePoint > Right.TimePoint) - (Left.TimePoint < Right.TimePoint);
}

TTeeth::TTeeth(int32_t NumberOfThreads) : MT(std::make_unique<TMultiThread>(NumberOfThreads))
{
    KeepFreedMemory();
}

void TTeeth::Clear()
{
    fItems.clear();
}

int32_t TTeeth::IndexOf(const TToothInTime* Series) const
{
    for (size_t i = 0; i < fItems.size(); ++i)
        if (fItems[i].get() == Series)
            return int32_t(i);
    return -1;
}

int32_t TTeeth::PhotographCount() const
{
    int32_t n = 0;
    for (const auto& s : fItems)
        n += s->Count();
    return n;
}

bool ParseToothFileName(const QString& FileName, int32_t& ID, int32_t& TimePoint)
{
    const QString number = FileName.mid(1, 2), time = FileName.mid(3, 3);
    if (!AllDigits(number) || !AllDigits(time))
        return false;
    ID = number.toInt();
    TimePoint = time.toInt();
    return true;
}

namespace {

// The photograph of a file named by the convention, or nullptr for any other name. Throws the
// bitmap loader's error.
std::unique_ptr<TTooth> LoadPhotograph(const QString& fname)
{
    int32_t id = 0, timePoint = 0;
    if (!ParseToothFileName(QFileInfo(fname).fileName(), id, timePoint))
        return nullptr;
    auto tooth = std::make_unique<TTooth>(fname, id);
    tooth->TimePoint = timePoint;
    return tooth;
}

} // namespace

void TTeeth::AddFile(const QString& fname)
{
    // Loaded before its series exists, so that a failure leaves no empty series behind.
    if (auto tooth = LoadPhotograph(fname))
        AddTooth(std::move(tooth));
}

void TTeeth::AddTooth(std::unique_ptr<TTooth> Tooth)
{
    TToothInTime* series = ByID(Tooth->ID);
    if (!series) {
        fItems.push_back(std::make_unique<TToothInTime>());
        series = fItems.back().get();
        series->ID = Tooth->ID;
    }
    series->Add(std::move(Tooth));
}

TToothInTime* TTeeth::ByID(int32_t ID) const
{
    for (const auto& s : fItems)
        if (s->ID == ID)
            return s.get();
    return nullptr;
}

TTooth* TTeeth::GetTooth(int32_t Number, int32_t TimePoint) const
{
    if (Number < 0 || Number >= Count())
        return nullptr;
    return fItems[size_t(Number)]->GetToothAt(TimePoint);
}

int32_t TTeeth::GetToothIndex(const TTooth* Tooth) const
{
    for (size_t i = 0; i < fItems.size(); ++i)
        for (const auto& t : *fItems[i])
            if (t.get() == Tooth)
                return int32_t(i);
    return -1;
}

int32_t TTeeth::MaxTimeCount() const
{
    int32_t max = 0, min = INT32_MAX;
    for (const auto& s : fItems)
        for (const auto& t : *s) {
            max = std::max(max, t->TimePoint);
            min = std::min(min, t->TimePoint);
        }
    return max < min ? 0 : max - min + 1;
}

int32_t TTeeth::LastTimePoint() const
{
    int32_t last = -1;
    for (const auto& s : fItems)
        for (const auto& t : *s)
            last = std::max(last, t->TimePoint);
    return last;
}

void TTeeth::Sort()
{
    const TToothComparer comparer;
    std::stable_sort(fItems.begin(), fItems.end(),
                     [&](const auto& a, const auto& b) { return comparer.Compare(*a, *b) < 0; });
}

void TTeeth::NameThem()
{
    for (const auto& s : fItems)
        for (const auto& t : *s)
            t->tname = ToothName(K9, t->ID);
}

QString TTeeth::Feline() const
{
    return QDir(path).filePath("feline");
}

void TTeeth::SetSpecies(bool Dog)
{
    K9 = Dog;
    const QString marker = Feline();
    if (Dog && QFile::exists(marker) && !QFile::remove(marker))
        throw TOrvixError(QString("Unable to delete %1").arg(marker).toStdString());
    if (!Dog && !QFile::exists(marker)) {
        QFile file(marker);
        if (!file.open(QIODevice::WriteOnly))
            throw TOrvixError(QString("Unable to create %1").arg(marker).toStdString());
    }
    NameThem();
}

namespace {

// One photograph file of an intake and what became of it.
struct TIntakeItem {
    QString File;
    int32_t ID = 0, TimePoint = 0;
    std::unique_ptr<TTooth> Tooth;
    QString Error;
};

} // namespace

std::vector<TFailure> TTeeth::LoadFolder(const QString& Folder, const TOnLoadProgress& OnProgress,
                                         const std::atomic<bool>* Stop, const TOnPhotographLoaded& OnPhotograph)
{
    psina = QDir(QDir::cleanPath(QFileInfo(Folder).absoluteFilePath())).dirName();
    QStringList subFolders;
    ListFiles(Folder, subFolders, "*.*", faDirectory);
    Clear();
    path = Folder;
    K9 = !QFile::exists(Feline());
    std::vector<TIntakeItem> items;
    int32_t total = 0; // every .bmp file counts in the progress, named by the convention or not
    for (const QString& sub : subFolders) {
        QStringList inSub;
        ListFiles(sub, inSub, "*.bmp", faAnyFile);
        total += int32_t(inSub.size());
        for (const QString& f : inSub) {
            TIntakeItem item{f, 0, 0, nullptr, {}};
            if (ParseToothFileName(QFileInfo(f).fileName(), item.ID, item.TimePoint))
                items.push_back(std::move(item));
        }
    }
    // A tooth's photographs are taken in by one worker, in time order, so that its first
    // photograph, the alignment reference, is at hand for the quality of the others.
    std::vector<std::vector<size_t>> groups;
    {
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return std::pair(items[a].ID, items[a].TimePoint) < std::pair(items[b].ID, items[b].TimePoint);
        });
        for (size_t k = 0; k < order.size(); ++k) {
            if (k == 0 || items[order[k]].ID != items[order[k - 1]].ID)
                groups.emplace_back();
            groups.back().push_back(order[k]);
        }
    }

    std::atomic<size_t> next{0};
    std::atomic<int32_t> done{total - int32_t(items.size())};
    const std::shared_ptr<TThumbnailCache> cache = TTooth::ThumbnailCache();
    auto intakeTooth = [&](const std::vector<size_t>& group, bool reports) {
        const TTooth* reference = nullptr;
        TPixelLease referenceLease;
        for (size_t i : group) {
            if (Stop && *Stop)
                return;
            TIntakeItem& item = items[i];
            try {
                std::optional<TCacheEntry> cached;
                if (cache)
                    cached = cache->Find(TFileStamp::Of(item.File), TFileStamp::Of(ResultFileName(item.File)));
                if (cached) {
                    item.Tooth = std::make_unique<TTooth>(item.File, item.ID, cached->Summary);
                } else if (!DecodeOnIntake && !QFile::exists(ResultFileName(item.File))) {
                    TPhotographSummary blank;
                    const QSize size = PeekBitmapFile(item.File);
                    blank.Width = size.width();
                    blank.Height = size.height();
                    item.Tooth = std::make_unique<TTooth>(item.File, item.ID, blank);
                } else {
                    item.Tooth = std::make_unique<TTooth>(item.File, item.ID);
                }
                TTooth& tooth = *item.Tooth;
                tooth.TimePoint = item.TimePoint;
                if (!reference) {
                    reference = &tooth;
                } else if (tooth.NelmDone) {
                    const TPhotographSummary* s = cached ? &cached->Summary : nullptr;
                    if (s && !std::isnan(s->Quality) && s->RefBitmap == TFileStamp::Of(reference->fname) &&
                        s->RefResult == TFileStamp::Of(reference->StatFileName())) {
                        tooth.KnowQuality(*reference, s->Quality);
                    } else {
                        try {
                            if (!referenceLease)
                                referenceLease = reference->Lease();
                            const TPixelLease own = tooth.Lease();
                            tooth.KnowQuality(*reference, tooth.AlignmentQuality(*reference));
                        } catch (const std::exception&) {
                            // the quality is then measured when it is asked for
                        }
                    }
                }
                if (&tooth != reference)
                    tooth.ReleasePixels();
                if (OnPhotograph)
                    OnPhotograph(tooth);
            } catch (const std::exception& e) {
                item.Tooth.reset();
                item.Error = QString::fromStdString(e.what());
            }
            const int32_t n = ++done;
            if (reports && OnProgress)
                OnProgress(n, total);
        }
        referenceLease.reset();
        if (reference)
            const_cast<TTooth*>(reference)->ReleasePixels();
    };
    auto work = [&](bool reports) {
        for (size_t g; (g = next++) < groups.size() && !(Stop && *Stop);)
            intakeTooth(groups[g], reports);
    };
    std::vector<std::thread> helpers;
    for (int32_t t = 1; t < MT->NumberOfThreads && size_t(t) < groups.size(); ++t)
        helpers.emplace_back(work, false);
    work(true);
    for (std::thread& t : helpers)
        t.join();

    std::vector<TFailure> failures;
    for (TIntakeItem& item : items)
        if (item.Tooth)
            AddTooth(std::move(item.Tooth));
        else if (!item.Error.isEmpty())
            failures.push_back({item.File, item.Error});
    if (OnProgress && !(Stop && *Stop))
        OnProgress(done, total);
    Sort();
    for (const auto& s : fItems)
        s->Sort();
    NameThem();
    NoteIntake();
    return failures;
}

void TTeeth::NoteIntake()
{
    fIntakeNotes.clear();
    for (const auto& series : fItems) {
        // After the stable sort a tooth's photographs of one time point follow each other in
        // listing order.
        for (int32_t i = 0; i < series->Count();) {
            int32_t j = i + 1;
            while (j < series->Count() && (*series)[j]->TimePoint == (*series)[i]->TimePoint)
                ++j;
            if (j - i > 1) {
                QStringList files;
                for (int32_t k = i; k < j; ++k)
                    files << (*series)[k]->fname;
                fIntakeNotes << QString("tooth %1 at time point %2 has %3 photographs: %4; %5 is used")
                                    .arg(series->ID)
                                    .arg((*series)[i]->TimePoint)
                                    .arg(j - i)
                                    .arg(files.join(", "), files.front());
            }
            i = j;
        }
        for (const auto& t : *series)
            if (!t->StatNote.isEmpty())
                fIntakeNotes << QString("%1: %2").arg(t->fname, t->StatNote);
    }
}
