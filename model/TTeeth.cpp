// The study and its intake from a folder.
#include "TTeeth.h"

#include "FileList.h"
#include "Memory.h"
#include "Nomenclature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
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
    std::unique_ptr<TTooth> Tooth;
    QString Error;
};

void LoadIntakeItem(TIntakeItem& item)
{
    try {
        item.Tooth = LoadPhotograph(item.File);
    } catch (const std::exception& e) {
        item.Error = QString::fromStdString(e.what());
    }
}

} // namespace

std::vector<TFailure> TTeeth::LoadFolder(const QString& Folder, const TOnLoadProgress& OnProgress,
                                         const std::atomic<bool>* Stop)
{
    psina = QDir(QDir::cleanPath(QFileInfo(Folder).absoluteFilePath())).dirName();
    QStringList subFolders;
    ListFiles(Folder, subFolders, "*.*", faDirectory);
    Clear();
    path = Folder;
    K9 = !QFile::exists(Feline());
    std::vector<TIntakeItem> items;
    for (const QString& sub : subFolders) {
        QStringList inSub;
        ListFiles(sub, inSub, "*.bmp", faAnyFile);
        for (const QString& f : inSub)
            items.push_back({f, nullptr, {}});
    }

    // Photographs load independently, as many at once as the study has workers; the calling
    // thread takes part and alone reports progress. They join the study in listing order.
    std::atomic<size_t> next{0};
    std::atomic<int32_t> done{0};
    auto work = [&](bool reports) {
        for (size_t i; (i = next++) < items.size() && !(Stop && *Stop);) {
            LoadIntakeItem(items[i]);
            const int32_t n = ++done;
            if (reports && OnProgress)
                OnProgress(n, int32_t(items.size()));
        }
    };
    std::vector<std::thread> helpers;
    for (int32_t t = 1; t < MT->NumberOfThreads && size_t(t) < items.size(); ++t)
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
        OnProgress(done, int32_t(items.size()));
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
