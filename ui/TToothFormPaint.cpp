// The tooth editor: the mouse on the picture (hover information, painting superpixels into a
// class, the inspection views) and undo/redo of the user's changes.
#include "TToothForm.h"

#include "TImageView.h"
#include "UiErrors.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <cstring>

namespace {

// Colours of the painting classes on the Shape square and of the hover highlight.
constexpr QRgb ClassColour[3] = {0x000000, 0x00FF00, 0xFF0000};

} // namespace

void TToothForm::ImageMouseDown(Qt::MouseButton Button, QPoint Pixel)
{
    if (tooth)
        Guarded(this, [&] { PressOn(Button, Pixel); });
}

void TToothForm::PressOn(Qt::MouseButton Button, QPoint Pixel)
{
    if (Button == Qt::LeftButton) {
        LeftButtonPressed = true;
        fStrokeBefore = Snapshot();
        fStrokeChanged = false;
        fHaveLastPaint = false;
        // A click paints the superpixel under the mouse.
        if (PixelIndex(Pixel.x(), Pixel.y()) >= 0)
            ImageMouseMove(Pixel);
    } else if (Button == Qt::RightButton) {
        FlushAppraise();
        tooth->DrawAll(fShowGroup->checkedId());
        ShowContour();
        if (OnFindTooth)
            OnFindTooth(tooth);
    }
}

void TToothForm::ImageMouseMove(QPoint Pixel)
{
    fHover = Pixel;
    Guarded(this, [&] {
        if (LeftButtonPressed) {
            // Every superpixel on the way since the last position, however fast the pointer moved.
            PaintLine(fHaveLastPaint ? fLastPaint : Pixel, Pixel);
            fLastPaint = Pixel;
            fHaveLastPaint = true;
        }
        Highlight(Pixel);
    });
}

void TToothForm::ImageMouseUp(Qt::MouseButton Button, QPoint)
{
    const bool painting = LeftButtonPressed;
    LeftButtonPressed = false;
    fHaveLastPaint = false;
    if (!tooth)
        return;
    if (painting) {
        FlushAppraise();
        if (fStrokeChanged)
            PushStep(0, std::move(fStrokeBefore));
        fStrokeChanged = false;
    }
    if (Button == Qt::RightButton)
        Guarded(this, [this] {
            tooth->DrawDirty();
            ShowContour();
            if (OnFindTooth)
                OnFindTooth(tooth);
        });
}

void TToothForm::PaintLine(QPoint From, QPoint To)
{
    // Bresenham's line: every pixel between the two positions, both ends included.
    const int dx = std::abs(To.x() - From.x()), dy = -std::abs(To.y() - From.y());
    const int sx = From.x() < To.x() ? 1 : -1, sy = From.y() < To.y() ? 1 : -1;
    int err = dx + dy, x = From.x(), y = From.y();
    int32_t last = -1;
    bool changed = false;
    for (;;) {
        const int32_t i = PixelIndex(x, y);
        if (i >= 0) {
            const int32_t sp = tooth->labels[size_t(i)];
            const TSuperPixel& s = tooth->SPList[size_t(sp)];
            if (sp != last && (s.Kind != ShapeIndex || !s.Fixed)) {
                tooth->SetSP(sp, ShapeIndex);
                changed = true;
            }
            last = sp;
        }
        if (x == To.x() && y == To.y())
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    if (changed) {
        fStrokeChanged = true;
        ScheduleAppraise();
    }
}

void TToothForm::ScheduleAppraise()
{
    // The moves that arrive within one pass of the event loop share one reclassification and one
    // save: the queued call runs after the input events already waiting.
    if (fAppraisePending)
        return;
    fAppraisePending = true;
    QMetaObject::invokeMethod(this, &TToothForm::FlushAppraise, Qt::QueuedConnection);
}

void TToothForm::FlushAppraise()
{
    if (!fAppraisePending || !tooth)
        return;
    fAppraisePending = false;
    Guarded(this, [this] {
        tooth->Appraise(); // classifies, redraws Contour, measures, saves
        ShowStat();
        ShowContour();
        ChangedStat();
    });
    if (!fClosed)
        Highlight(fHover);
}

void TToothForm::Highlight(QPoint Pixel)
{
    const int32_t i = PixelIndex(Pixel.x(), Pixel.y());
    if (i < 0)
        return;
    const int32_t sp = tooth->labels[size_t(i)];
    const int32_t kind = tooth->Dirty[size_t(i)];
    const QRgb colour = 0xFF000000 | (kind >= 0 && kind <= 2 ? ClassColour[kind] : 0);
    if (fBoxes.size() != tooth->SPList.size())
        MeasureSuperpixels();
    buf = fShown.copy();
    const int32_t w = tooth->Image.Width();
    const QRect box = fBoxes[size_t(sp)];
    const int32_t* labels = tooth->labels.data();
    for (int32_t y = box.top(); y <= box.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(buf.scanLine(y));
        for (int32_t x = box.left(); x <= box.right(); ++x)
            if (labels[x + size_t(y) * w] == sp)
                line[x] = colour;
    }
    Image->SetImage(buf);
    const TSuperPixel& s = tooth->SPList[size_t(sp)];
    SPNum->setText("# " + QString::number(sp));
    AreaLabel->setText("Area = " + QString::number(s.Area));
    Redlabel->setText("Red = " + QString::number(s.Red));
    GreenLabel->setText("Green = " + QString::number(s.Green));
    IntensityLabel->setText("Intensity = " + QString::number(s.Intensity()));
}

void TToothForm::MeasureSuperpixels()
{
    const int32_t w = tooth->Image.Width(), h = tooth->Image.Height();
    fBoxes.assign(tooth->SPList.size(), QRect());
    std::vector<int32_t> left(fBoxes.size(), w), top(fBoxes.size(), h), right(fBoxes.size(), -1),
        bottom(fBoxes.size(), -1);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t s = size_t(tooth->labels[x + size_t(y) * w]);
            left[s] = std::min(left[s], x);
            right[s] = std::max(right[s], x);
            top[s] = std::min(top[s], y);
            bottom[s] = std::max(bottom[s], y);
        }
    for (size_t s = 0; s < fBoxes.size(); ++s)
        fBoxes[s] = QRect(QPoint(left[s], top[s]), QPoint(right[s], bottom[s]));
}

void TToothForm::ShapeMouseUp()
{
    ShapeIndex = (ShapeIndex + 1) % 3;
    ShowShape();
}

void TToothForm::ShowShape()
{
    QPixmap square(16, 16);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::gray, 1));
    painter.setBrush(QColor::fromRgb(ClassColour[ShapeIndex]));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 4, 4);
    painter.end();
    Shape->setIcon(square);
    Shape->setIconSize(square.size());
    static const char* const names[] = {"background", "clean (green)", "stained (red)"};
    Shape->setAccessibleName(QString("Paints %1").arg(names[ShapeIndex]));
}

TToothForm::TEditState TToothForm::Snapshot()
{
    TEditState state;
    state.Classes.reserve(tooth->SPList.size());
    for (const TSuperPixel& s : tooth->SPList)
        state.Classes.emplace_back(s.Kind, s.Fixed);
    state.BGThreshold = tooth->BGThreshold;
    state.RGThreshold = tooth->RGThreshold;
    state.DisableMask = tooth->DisableMask;
    // Steps that leave the mask alone share one copy of it.
    const TIntVector& mask = tooth->Mask;
    const bool same = fMaskShared && fMaskShared->size() == mask.size() &&
                      (mask.empty() || std::memcmp(fMaskShared->data(), mask.data(), mask.size() * 4) == 0);
    if (!same)
        fMaskShared = std::make_shared<const TIntVector>(mask);
    state.Mask = fMaskShared;
    return state;
}

void TToothForm::Restore(const TEditState& State)
{
    // Steps recorded on another segmentation are cleared with it, so the tables match.
    if (State.Classes.size() != tooth->SPList.size())
        return;
    for (size_t k = 0; k < State.Classes.size(); ++k) {
        tooth->SPList[k].Kind = State.Classes[k].first;
        tooth->SPList[k].Fixed = State.Classes[k].second;
    }
    tooth->BGThreshold = State.BGThreshold;
    tooth->RGThreshold = State.RGThreshold;
    tooth->Mask = State.Mask ? *State.Mask : TIntVector();
    tooth->DisableMask = State.DisableMask;
    DisableMask->setChecked(State.DisableMask);
    ShowParams();
    // ShowParams rounds the thresholds to the sliders; the step's own values are restored.
    tooth->BGThreshold = State.BGThreshold;
    tooth->Appraise(); // classifies, redraws, measures, saves, as the change itself did
    ShowStat();
    ShowContour();
    ChangedStat();
}

void TToothForm::PushStep(int Merge, TEditState Before)
{
    // A slider dragged or held down makes one step, not one per position.
    const QScrollBar* slider = Merge == 1 ? BGSlider : Merge == 2 ? RGSlider : nullptr;
    const bool dragging = slider && slider->isSliderDown();
    if (dragging && fMergeOpen && !fUndo.empty() && fUndo.back().Merge == Merge)
        fUndo.back().After = Snapshot();
    else
        fUndo.push_back({Merge, std::move(Before), Snapshot()});
    fMergeOpen = dragging;
    fRedo.clear();
    EnableUndo();
}

bool TToothForm::Undo()
{
    if (fUndo.empty() || !tooth)
        return false;
    FlushAppraise();
    TEditStep step = std::move(fUndo.back());
    fUndo.pop_back();
    Guarded(this, [&] { Restore(step.Before); });
    fRedo.push_back(std::move(step));
    EnableUndo();
    return true;
}

bool TToothForm::Redo()
{
    if (fRedo.empty() || !tooth)
        return false;
    TEditStep step = std::move(fRedo.back());
    fRedo.pop_back();
    Guarded(this, [&] { Restore(step.After); });
    fUndo.push_back(std::move(step));
    EnableUndo();
    return true;
}

void TToothForm::ClearUndo()
{
    fUndo.clear();
    fRedo.clear();
    fMaskShared.reset();
    EnableUndo();
}

void TToothForm::EnableUndo()
{
    UndoBtn->setEnabled(!fUndo.empty());
    RedoBtn->setEnabled(!fRedo.empty());
}
