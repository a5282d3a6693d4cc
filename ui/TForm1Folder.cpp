// The main window: folder loading and the species of the study.
#include "TForm1.h"

#include "AnimalPictures.h"
#include "DefaultIniFile.h"
#include "TChartView.h"
#include "TOverviewModel.h"
#include "TStatusPanel.h"
#include "UiErrors.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListWidget>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeView>

namespace {

// Thumbnails of every photograph, made in parallel off the UI thread (an alignment quality not
// known from the intake is measured here).
std::vector<std::pair<const TTooth*, TThumb>> MakeThumbs(const TTeeth& teeth)
{
    std::vector<std::pair<const TTooth*, TThumb>> thumbs;
    for (const auto& series : teeth)
        for (const auto& tooth : *series)
            thumbs.push_back({tooth.get(), {}});
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < thumbs.size();)
            thumbs[i].second = MakeThumb(*thumbs[i].first);
    };
    std::vector<std::thread> helpers;
    for (int32_t t = 1; t < teeth.NumberOfThreads(); ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
    return thumbs;
}

} // namespace

void TForm1::SelectHomeFolder()
{
    // Shows where the user's files are; choosing a study stays the user's first act.
    fSelectingQuietly = true;
    SelectFolderInTree(QDir::homePath());
    DirView->expand(DirView->currentIndex());
    fSelectingQuietly = false;
}

void TForm1::SelectFolderInTree(const QString& Folder)
{
    const QModelIndex index = fDirModel->index(QDir::cleanPath(Folder));
    if (!index.isValid())
        return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        DirView->expand(up);
    DirView->setCurrentIndex(index);
    DirView->scrollTo(index);
}

void TForm1::RestoreLastDir()
{
    QString folder = fStartDir;
    if (folder.isEmpty())
        Guarded(this, [&] { folder = SettingsFile().ReadString(SettingsSection, "LastDir", {}); });
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return;
    OpenFolder(QFileInfo(folder).absoluteFilePath());
    CellSizeChange(CellSize->value());
}

void TForm1::DirViewChange(const QModelIndex& current)
{
    if (fSelectingQuietly || !current.isValid())
        return;
    const QString folder = fDirModel->filePath(current);
    if (!folder.isEmpty())
        OpenFolder(folder);
}

void TForm1::OpenFolder(const QString& Folder)
{
    if (Busy())
        return;
    Abort = false;
    const QString path = QDir::cleanPath(Folder);
    // The tree shows the study being opened, whoever chose it.
    if (DirView->currentIndex() != fDirModel->index(path)) {
        fSelectingQuietly = true;
        SelectFolderInTree(path);
        fSelectingQuietly = false;
    }
    StatusBar->SetText(QDir::toNativeSeparators(path));
    StatusBar->SetNote({});
    if (!Guarded(this, [&] { SettingsFile().WriteString(SettingsSection, "LastDir", path); }))
        return;
    // The editors and the table let go of the photographs before the study is rebuilt on the
    // loading thread.
    CloseToothForms();
    fModel->SetStudy(nullptr, {});
    HoldCommands(true);
    SetProgress(0);
    fLoader = std::thread([this, path] {
        std::vector<TFailure> failures;
        std::vector<std::pair<const TTooth*, TThumb>> thumbs;
        try {
            failures = Teeth->LoadFolder(
                path,
                [this](int32_t done, int32_t total) {
                    const double value = total > 0 ? double(done) / total : 1;
                    QMetaObject::invokeMethod(this, [this, value] { SetProgress(value); }, Qt::QueuedConnection);
                },
                &Abort,
                [this](const TTooth& tooth) {
                    // Only what stays of a photograph without its pixel data; the table shows it at once.
                    TThumb thumb = MakeThumb(tooth, false);
                    QMetaObject::invokeMethod(
                        this,
                        [this, id = tooth.ID, time = tooth.TimePoint, thumb = std::move(thumb)]() mutable {
                            fModel->AddLoading(id, time, std::move(thumb));
                        },
                        Qt::QueuedConnection);
                });
            // Cheap now: the thumbnails and alignment qualities stay with the photographs.
            thumbs = MakeThumbs(*Teeth);
        } catch (const std::exception& e) {
            failures.push_back({path, QString::fromStdString(e.what())});
        }
        QMetaObject::invokeMethod(
            this, [this, failures = std::move(failures), thumbs = std::move(thumbs)]() mutable {
                FolderLoaded(std::move(failures), std::move(thumbs));
            },
            Qt::QueuedConnection);
    });
}

void TForm1::StopLoading()
{
    if (!fLoader.joinable())
        return;
    Abort = true;
    fLoader.join();
}

void TForm1::FolderLoaded(std::vector<TFailure> Failures, std::vector<std::pair<const TTooth*, TThumb>> Thumbs)
{
    if (fLoader.joinable())
        fLoader.join();
    fModel->SetStudy(Teeth.get(), std::move(Thumbs));
    Chart->ResetOptions();
    ShowAnimal();
    ShowToothNames();
    CellSizeChange(CellSize->value());
    HoldCommands(false);
    const int32_t count = Teeth->PhotographCount();
    StatusBar->SetNote(Abort ? QString("Loading stopped: %1 photographs read").arg(count)
                             : QString("%1 photographs of %2 teeth").arg(count).arg(Teeth->Count()));
    QStringList lines;
    for (const TFailure& f : Failures)
        lines << QDir::toNativeSeparators(f.File) + ": " + f.Message;
    lines << Teeth->IntakeNotes();
    if (lines.isEmpty())
        return;
    QString summary;
    if (!Failures.empty())
        summary = QString("%1 photographs could not be read; the others were loaded. ").arg(Failures.size());
    if (!Teeth->IntakeNotes().isEmpty())
        summary += "Some photographs share a tooth and time point, or their results will be recalculated.";
    ShowProblems(summary.trimmed(), lines);
}

void TForm1::animalClick()
{
    if (Busy())
        return;
    Guarded(this, [this] { SetAnimal(!Teeth->K9); });
    ShowAnimal();
}

void TForm1::SetAnimal(bool Dog)
{
    // The marker file follows the species; a failure to write it leaves the names as they were.
    Teeth->SetSpecies(Dog);
    ShowToothNames();
    emit ToothRenamed();
}

void TForm1::ShowAnimal()
{
    Animal->setIcon(QIcon(QPixmap::fromImage(AnimalPicture(Teeth->K9))));
    Animal->setToolTip(Teeth->K9 ? "A dog study: click to make it a cat study"
                                 : "A cat study: click to make it a dog study");
}

void TForm1::ShowToothNames()
{
    fModel->Renamed();
    SyncToothList();
}

void TForm1::SyncToothList()
{
    // Filling the list is not the user checking teeth: the chart waits for its own triggers.
    const QSignalBlocker quiet(toothlist);
    const int32_t count = Teeth->Count();
    if (count == 0) {
        toothlist->clear();
        return;
    }
    if (toothlist->count() == count) {
        for (int32_t i = 0; i < count; ++i)
            toothlist->item(i)->setText((*Teeth)[i]->Name());
        return;
    }
    // The check marks stay with their positions.
    std::vector<Qt::CheckState> marks;
    for (int i = 0; i < toothlist->count(); ++i)
        marks.push_back(toothlist->item(i)->checkState());
    toothlist->clear();
    for (int32_t i = 0; i < count; ++i) {
        auto* item = new QListWidgetItem((*Teeth)[i]->Name(), toothlist);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(size_t(i) < marks.size() ? marks[size_t(i)] : Qt::Unchecked);
    }
}
