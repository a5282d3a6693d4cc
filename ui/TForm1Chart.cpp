// The main window: the parameter chart.
#include "TForm1.h"

#include "TChartView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>

void TForm1::ParamBoxChange(int) { UpdateChart(); }
void TForm1::AverageClick() { UpdateChart(); }
void TForm1::toothlistClickCheck() { UpdateChart(); }

void TForm1::CheckALLClick(bool checked)
{
    {
        const QSignalBlocker quiet(toothlist);
        for (int i = 0; i < toothlist->count(); ++i)
            toothlist->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
    UpdateChart();
}

void TForm1::UpdateChart()
{
    const int32_t k = ParamBox->currentIndex();
    // The ratio may sit anywhere; areas and percentages are read from 0.
    const bool fromZero = k != 3;
    if (Teeth->Count() == 0) {
        Chart->SetLines(std::nullopt, "Time Point", ParamBox->currentText(), {}, fromZero);
        return;
    }
    std::vector<bool> checked;
    for (int i = 0; i < toothlist->count(); ++i)
        checked.push_back(toothlist->item(i)->checkState() == Qt::Checked);
    Chart->SetLines(Teeth->psina, "Time Point", ParamBox->currentText(),
                    Average->isChecked() ? std::vector<TChartLine>{AverageLine(*Teeth, checked, k)}
                                         : ToothLines(*Teeth, checked, k),
                    fromZero);
}
