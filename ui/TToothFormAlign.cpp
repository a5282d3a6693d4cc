// The tooth editor: the transform sliders, automatic alignment, the mask, navigation, Compare and
// the messages from the main window.
#include "TToothForm.h"

#include "TImageView.h"
#include "TTeeth.h"
#include "UiErrors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>

namespace {

// A transform shown on a slider: the end of its range when it lies beyond.
int32_t SliderPosition(const QScrollBar* slider, double position)
{
    return RoundEven(std::clamp(position, double(slider->minimum()), double(slider->maximum())));
}

const TTooth* Reference(const TTooth* tooth)
{
    return tooth && tooth->Parent ? tooth->Parent->First() : nullptr;
}

} // namespace

void TToothForm::AngleSliderChange(int position)
{
    if (DisableUpdate || !tooth)
        return;
    tooth->TransPars.SetAngle(position);
    TransformChanged();
}

void TToothForm::ShiftxSliderChange(int position)
{
    if (DisableUpdate || !tooth)
        return;
    tooth->TransPars.Shiftx = tooth->Image.Width() * -0.5 * position / ShiftxSlider->maximum();
    TransformChanged();
}

void TToothForm::ShiftySliderChange(int position)
{
    if (DisableUpdate || !tooth)
        return;
    tooth->TransPars.Shifty = tooth->Image.Height() * 0.5 * position / ShiftySlider->maximum();
    TransformChanged();
}

void TToothForm::ScaleXSliderChange(int position)
{
    if (DisableUpdate || !tooth)
        return;
    tooth->TransPars.Scalex = 1 - position * 0.5 / ScaleXSlider->maximum();
    TransformChanged();
}

void TToothForm::ScaleYSliderChange(int position)
{
    if (DisableUpdate || !tooth)
        return;
    tooth->TransPars.Scaley = position * 0.5 / ScaleYSlider->maximum() + 1;
    TransformChanged();
}

void TToothForm::TransformChanged()
{
    // The segmentation no longer fits the image; the user recalculates when the transform is right.
    FlushAppraise();
    tooth->DeleteSuperPixels();
    fBoxes.clear();
    ClearUndo();
    RecalculateBtn->setEnabled(true);
    Guarded(this, [this] { ApplyTransform(); });
}

void TToothForm::ApplyTransform()
{
    if (DisableUpdate)
        return;
    tooth->Raw.Transform(tooth->TransPars, tooth->Image);
    tooth->DrawDirty();
    ShowContour();
    ShowQuality();
}

void TToothForm::ShowTransPars(const TTransPars& pars)
{
    const double w = tooth->Image.Width(), h = tooth->Image.Height();
    DisableUpdate = true;
    AngleSlider->setValue(SliderPosition(AngleSlider, pars.fAngle));
    ShiftxSlider->setValue(SliderPosition(ShiftxSlider, -2 * ShiftxSlider->maximum() * pars.Shiftx / w));
    ShiftySlider->setValue(SliderPosition(ShiftySlider, 2 * ShiftySlider->maximum() * pars.Shifty / h));
    ScaleXSlider->setValue(SliderPosition(ScaleXSlider, (1 - pars.Scalex) * 2 * ScaleXSlider->maximum()));
    ScaleYSlider->setValue(SliderPosition(ScaleYSlider, (pars.Scaley - 1) * 2 * ScaleYSlider->maximum()));
    DisableUpdate = false;
}

void TToothForm::ResetTransformClick()
{
    if (!tooth)
        return;
    FlushAppraise();
    Guarded(this, [this] {
        tooth->TransPars = TTransPars::Identity();
        ShowTransPars(tooth->TransPars);
        ApplyTransform();
    });
    RecalculateBtnClick();
}

void TToothForm::NelmparsClick() { Align(false); }
void TToothForm::RealignbtnClick() { Align(true); }

void TToothForm::Align(bool Realign)
{
    if (!tooth)
        return;
    FlushAppraise();
    const bool aligned = tooth->NelmDone;
    const bool fitted = Guarded(this, [&] {
        if (Realign)
            tooth->NelmDone = false;
        try {
            tooth->Superpose(Deformation->isChecked(), {});
        } catch (...) {
            // A failed fit changes nothing: the photograph keeps its transform and its state.
            tooth->NelmDone = aligned;
            throw;
        }
        ShowTransPars(tooth->TransPars);
        ApplyTransform();
    });
    if (fitted)
        RecalculateBtnClick();
}

void TToothForm::SetMaskClick()
{
    if (!tooth)
        return;
    FlushAppraise();
    Guarded(this, [this] {
        TEditState before = Snapshot();
        tooth->SetMask(); // nothing on an unsegmented photograph
        if (!ThisImage->isChecked() && OnMaskSet)
            OnMaskSet(tooth);
        ChangedStat();
        ShowContour();
        if (tooth->Done())
            PushStep(3, std::move(before));
    });
}

void TToothForm::DisableMaskClick(bool checked)
{
    if (!tooth)
        return;
    FlushAppraise();
    Guarded(this, [&] {
        TEditState before = Snapshot();
        tooth->DisableMask = checked;
        tooth->Appraise();
        ChangedStat();
        ShowContour();
        ShowStat();
        if (tooth->Done())
            PushStep(4, std::move(before));
    });
}

void TToothForm::BUpClick() { Navigate(TNextTooth::ntUP); }
void TToothForm::BLeftClick() { Navigate(TNextTooth::ntLeft); }
void TToothForm::BDownClick() { Navigate(TNextTooth::ntDown); }
void TToothForm::BRightClick() { Navigate(TNextTooth::ntRight); }

void TToothForm::Navigate(TNextTooth Dir)
{
    if (!OnNext || !tooth)
        return;
    // What was painted is saved before the editor moves on.
    FlushAppraise();
    ShowTooth(OnNext(Dir, tooth, false));
}

void TToothForm::ToothMaskSet(TTooth* Sender)
{
    if (!tooth || Sender == tooth || fClosed)
        return;
    // The mask was replaced from outside; older steps would bring back a mask the user did not set here.
    FlushAppraise();
    ClearUndo();
    Guarded(this, [this] {
        tooth->Appraise();
        ChangedStat();
        ShowContour();
        ShowStat();
    });
}

void TToothForm::ToothRenamed() { ShowCaption(); }

void TToothForm::CompareClick()
{
    CompareMode->setEnabled(Compare->isChecked());
    if (tooth)
        ShowContour();
}

QImage TToothForm::Composed(const QImage& Contour) const
{
    const TTooth* reference = Reference(tooth);
    if (!reference || reference == tooth || reference->Image.Size() == 0)
        return Contour;
    QImage first;
    reference->Image.GetBitmap(first);
    if (first.size() != Contour.size())
        first = first.scaled(Contour.size());
    QImage mixed = Contour.copy();
    const int w = mixed.width(), h = mixed.height();
    const bool checkerboard = CompareMode->currentIndex() == 1;
    const int square = std::max(16, std::min(w, h) / 8);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(mixed.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(first.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (checkerboard)
                out[x] = ((x / square + y / square) & 1) ? in[x] : out[x];
            else // half of each, channel by channel
                out[x] = 0xFF000000 | (((out[x] >> 1) & 0x7F7F7F) + ((in[x] >> 1) & 0x7F7F7F));
        }
    }
    return mixed;
}

void TToothForm::ShowQuality()
{
    const TTooth* reference = Reference(tooth);
    QString text = QString(QChar(0x2014));
    if (reference && reference != tooth)
        text = QLocale::system().toString(tooth->AlignmentQuality(*reference), 'f', 3);
    auto* item = new QTableWidgetItem(text);
    item->setToolTip("Alignment quality against the tooth's first photograph: 1 is a perfect match");
    Table->setItem(QualityRow, 1, item);
}
