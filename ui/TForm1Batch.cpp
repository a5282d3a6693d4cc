// The main window: the four batch commands, Stop, and the progress in the status bar.
#include "TForm1.h"

#include "TOverviewModel.h"
#include "TStatusPanel.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <cmath>

void TForm1::CalcAllBtnClick() { StartBatch(true, false); }
void TForm1::AlignBtnClick() { StartBatch(true, true); }
void TForm1::RecalculateALLClick() { StartBatch(false, false); }
void TForm1::RealignClick() { StartBatch(false, true); }

void TForm1::iamsureClick(bool checked)
{
    RecalculateALL->setEnabled(checked && !Busy());
    Realign->setEnabled(checked && !Busy());
}

void TForm1::StopBTNClick()
{
    Abort = true; // also ends a folder loading
    fStopRequested = Teeth->Running();
    Teeth->AbortCalc();
}

void TForm1::TimerTimer()
{
    if (Teeth && Teeth->CalcTotal != 0)
        SetProgress(double(Teeth->CalcCount.load()) / Teeth->CalcTotal);
}

void TForm1::StartBatch(bool OnlyNew, bool Align)
{
    if (Busy())
        return;
    CloseToothForms();
    Abort = false;
    fStopRequested = false;
    fRunAligns = Align;
    StatusBar->SetNote({});
    SetProgress(0);
    if (!Teeth->RecalculateDefault(OnlyNew, Align, Deformation->isChecked(),
                                   [this](bool Success) { BatchTerminated(Success); })) {
        StatusBar->SetNote(Teeth->Count() == 0 ? "No photographs to work on"
                                               : "Nothing to do: every photograph is already done");
        return;
    }
    HoldCommands(true);
    Timer->start();
}

void TForm1::ToothDone(TTooth* Tooth)
{
    // The worker has let go of this photograph; its cell alone is refreshed. A run that does not
    // align leaves the alignment, and so its quality, as it was.
    TThumb thumb = MakeThumb(*Tooth, fRunAligns);
    if (!fRunAligns && fModel->Thumb(Tooth))
        thumb.Quality = fModel->Thumb(Tooth)->Quality;
    fModel->SetThumb(Tooth, std::move(thumb));
}

void TForm1::BatchTerminated(bool)
{
    Timer->stop();
    SetProgress(1);
    HoldCommands(false);
    const std::vector<TFailure> failures = Teeth->Failures();
    QStringList lines;
    for (const TFailure& f : failures) {
        lines << QDir::toNativeSeparators(f.File) + ": " + f.Message;
        for (const auto& series : *Teeth)
            for (const auto& tooth : *series)
                if (tooth->fname == f.File)
                    fModel->SetFailure(tooth.get(), f.Message);
    }
    const int32_t done = Teeth->CalcCount.load(), total = Teeth->CalcTotal;
    QString note = fStopRequested ? QString("Stopped: %1 of %2 photographs done").arg(done).arg(total)
                                  : QString("Done: %1 photographs").arg(total);
    if (!failures.empty())
        note += QString(", %1 failed").arg(failures.size());
    StatusBar->SetNote(note);
    Table->viewport()->update();
    UpdateChart();
    if (!failures.empty())
        ShowProblems(QString("%1 photographs could not be processed.").arg(failures.size()), lines);
}

void TForm1::SetProgress(double Value)
{
    fProgress = Value;
    StatusBar->SetProgress(Value);
}

void TForm1::HoldCommands(bool Hold)
{
    DirView->setEnabled(!Hold);
    Animal->setEnabled(!Hold);
    CalcAllBtn->setEnabled(!Hold);
    AlignBtn->setEnabled(!Hold);
    ExportBtn->setEnabled(!Hold);
    RecalculateALL->setEnabled(!Hold && iamsure->isChecked());
    Realign->setEnabled(!Hold && iamsure->isChecked());
}
