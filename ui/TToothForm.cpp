// The tooth editor: showing a photograph, the parameters, the thresholds and the statistics.
#include "TToothForm.h"

#include "DefaultIniFile.h"
#include "TImageView.h"
#include "TTeeth.h"
#include "UiErrors.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolButton>

namespace {

QString FormatReal(double v) { return SettingsFile().FormatFloat(v); }
bool ParseReal(const QString& text, double& v) { return SettingsFile().ParseFloat(text, v); }

} // namespace

void TToothForm::ShowTooth(TTooth* t)
{
    if (!t)
        return;
    const TTooth* first = t->Parent ? t->Parent->First() : nullptr;
    // Taken before anything changes: a photograph that cannot be read any more leaves the window as it was.
    TPixelLease lease = t->Lease();
    TPixelLease referenceLease = first && first != t ? first->Lease() : TPixelLease();
    FlushAppraise();
    if (t != tooth)
        ClearUndo();
    tooth = t;
    fLease = std::move(lease);
    fReferenceLease = std::move(referenceLease);
    fBoxes.clear();
    LeftButtonPressed = false;
    fHover = {-1, -1};
    ShowCaption();
    ShowTransPars(t->TransPars);
    DisableMask->setChecked(t->DisableMask);
    const TTooth* reference = t->Parent ? t->Parent->First() : nullptr;
    Compare->setEnabled(reference && reference != t);
    FitWindowToPicture();
    Guarded(this, [&] {
        if (t->Done()) {
            ShowContour();
            ShowParams();
            ShowStat();
            RecalculateBtn->setEnabled(false);
        } else {
            DefaultParClick();
            RecalculateBtnClick();
        }
    });
    ShowQuality();
    EnableArrows();
    Image->setFocus();
}

void TToothForm::ShowCaption()
{
    if (tooth)
        setWindowTitle(tooth->tname + " Time=" + QString::number(tooth->TimePoint));
}

void TToothForm::FitWindowToPicture()
{
    // The window takes the photograph's own size when the screen has room; a larger photograph
    // is fitted to the window instead, and the user zooms in where the detail matters.
    const QSize picture(tooth->Contour.Width(), tooth->Contour.Height());
    const QScreen* where = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect screen = where->availableGeometry();
    if (!isVisible())
        move(screen.topLeft());
    show();
    // The margins around the picture as the layout gives them now.
    layout()->activate();
    delx = width() - Image->maximumViewportSize().width();
    dely = height() - Image->maximumViewportSize().height();
    const QSize room(screen.width() - 16, screen.height() - 48);
    const QSize wanted(picture.width() + delx, picture.height() + dely);
    const QSize size = wanted.boundedTo(room).expandedTo(minimumSizeHint());
    resize(size);
    layout()->activate();
    if (wanted.width() <= size.width() && wanted.height() <= size.height())
        Image->SetZoom(1);
    else
        Image->FitToWindow();
}

void TToothForm::ShowParams()
{
    DisableUpdate = true;
    const bool own = tooth->SPnumber != 0;
    SPNumber->setText(QString::number(own ? tooth->SPnumber : DefaultSPNumber.load()));
    Compactness->setText(FormatReal(own ? tooth->Compactness : DefaultCompactness.load()));
    const double bg = own ? tooth->BGThreshold : DefaultBGThreshold.load();
    const double rg = own ? tooth->RGThreshold : DefaultRGThreshold.load();
    BGSlider->setValue(RoundEven(BGSlider->maximum() * bg));
    RGSlider->setValue(RoundEven(RGSlider->maximum() * rg));
    // The texts follow the sliders also when a position did not change.
    BGThreshold->setText(FormatReal(double(BGSlider->value()) / BGSlider->maximum()));
    RGThreshold->setText(FormatReal(double(RGSlider->value()) / RGSlider->maximum()));
    DisableUpdate = false;
}

QString TToothForm::StatText(double Value)
{
    constexpr int width = 7;
    const QString separator = QLocale::system().decimalPoint();
    QString text = FormatReal(Value);
    if (text.size() <= width)
        return text;
    qsizetype e = text.indexOf(u'E');
    if (e < 0) {
        const qsizetype integerDigits = text.contains(separator) ? text.indexOf(separator) : text.size();
        if (integerDigits <= width) {
            text.truncate(width);
            if (text.endsWith(separator))
                text.chop(separator.size());
            return text;
        }
        // Cutting the digits of a large number would show another number: use an exponent.
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::OmitLeadingZeroInExponent);
        text = c.toString(Value, 'E', 14).replace(u'.', separator);
        e = text.indexOf(u'E');
    }
    // The exponent is kept whole: the mantissa gives up its last digits instead.
    const QString exponent = text.mid(e);
    QString mantissa = text.left(std::max<qsizetype>(1, width - exponent.size()));
    if (mantissa.contains(separator))
        while (mantissa.endsWith(u'0'))
            mantissa.chop(1);
    if (mantissa.endsWith(separator))
        mantissa.chop(separator.size());
    return mantissa + exponent;
}

void TToothForm::ShowStat()
{
    for (int32_t row = 0; row < 5; ++row)
        Table->setItem(row, 1, new QTableWidgetItem(StatText(tooth->GetParam(row))));
}

void TToothForm::ShowContour()
{
    QImage contour;
    tooth->Contour.GetBitmap(contour);
    fShown = Compare->isChecked() && Compare->isEnabled() ? Composed(contour) : contour;
    Image->SetImage(fShown);
}

void TToothForm::EnableArrows()
{
    if (!OnNext)
        return;
    BUp->setEnabled(OnNext(TNextTooth::ntUP, tooth, true) != nullptr);
    BDown->setEnabled(OnNext(TNextTooth::ntDown, tooth, true) != nullptr);
    BLeft->setEnabled(OnNext(TNextTooth::ntLeft, tooth, true) != nullptr);
    BRight->setEnabled(OnNext(TNextTooth::ntRight, tooth, true) != nullptr);
}

int32_t TToothForm::PixelIndex(int32_t x, int32_t y) const
{
    if (!tooth || !tooth->Done())
        return -1;
    if (x < 0 || y < 0 || x >= tooth->Image.Width() || y >= tooth->Image.Height())
        return -1;
    return x + y * tooth->Image.Width();
}

void TToothForm::ChangedStat()
{
    if (OnChangeStat)
        OnChangeStat(tooth);
}

void TToothForm::SPNumberChange() { RecalculateBtn->setEnabled(true); }
void TToothForm::CompactnessChange() { RecalculateBtn->setEnabled(true); }

void TToothForm::BGThresholdChange(const QString& text)
{
    double value;
    if (ParseReal(text, value))
        BGSlider->setValue(RoundEven(BGSlider->maximum() * value));
}

void TToothForm::BGSliderChange(int position)
{
    if (!tooth)
        return;
    const bool byUser = !DisableUpdate;
    TEditState before;
    if (byUser)
        before = Snapshot();
    // Also while the program sets the slider: a shown photograph has the slider's threshold.
    tooth->BGThreshold = double(position) / BGSlider->maximum();
    BGThreshold->setText(FormatReal(tooth->BGThreshold));
    BGThreshold->setModified(false);
    if (!byUser)
        return;
    Guarded(this, [&] {
        tooth->Appraise(); // classifies, redraws Contour, measures, saves
        ShowStat();
        ShowContour();
        ChangedStat();
        PushStep(1, std::move(before));
    });
}

void TToothForm::RGSliderChange(int position)
{
    const double v = double(position) / RGSlider->maximum();
    RGThreshold->setText(FormatReal(v));
    if (DisableUpdate || !tooth)
        return;
    Guarded(this, [&] {
        TEditState before = Snapshot();
        tooth->RGThreshold = v;
        tooth->Appraise();
        ShowStat();
        ShowContour();
        ChangedStat();
        PushStep(2, std::move(before));
    });
}

void TToothForm::RecalculateBtnClick()
{
    Guarded(this, [this] { Recalculate(); });
    RecalculateBtn->setEnabled(false);
}

void TToothForm::Recalculate()
{
    if (!tooth)
        return;
    // Read in this order; the photograph takes them only when all three are numbers, so that its
    // stored parameters always describe its segmentation.
    bool ok = false;
    const int32_t spNumber = SPNumber->text().toInt(&ok);
    double compactness, bgThreshold;
    if (!ok || !ParseReal(Compactness->text(), compactness) || !ParseReal(BGThreshold->text(), bgThreshold))
        return;
    tooth->SPnumber = spNumber;
    tooth->Compactness = compactness;
    tooth->BGThreshold = bgThreshold;
    tooth->RGThreshold = double(RGSlider->value()) / RGSlider->maximum();
    tooth->DoSuperpixel(); // segments, classifies, redraws, measures, saves
    fBoxes.clear();
    ClearUndo();
    ShowContour();
    ShowStat();
    ChangedStat();
}

void TToothForm::DefaultParClick()
{
    DisableUpdate = true;
    SPNumber->setText(QString::number(DefaultSPNumber.load()));
    Compactness->setText(FormatReal(DefaultCompactness.load()));
    BGSlider->setValue(RoundEven(BGSlider->maximum() * DefaultBGThreshold.load()));
    RGSlider->setValue(RoundEven(RGSlider->maximum() * DefaultRGThreshold.load()));
    BGThreshold->setText(FormatReal(double(BGSlider->value()) / BGSlider->maximum()));
    RGThreshold->setText(FormatReal(double(RGSlider->value()) / RGSlider->maximum()));
    DisableUpdate = false;
}

void TToothForm::SetAsDefaultbtnClick()
{
    Guarded(this, [this] {
        bool ok = false;
        const int32_t spNumber = SPNumber->text().toInt(&ok);
        if (ok)
            SetDefaultSPNumber(spNumber);
        double value;
        if (ParseReal(Compactness->text(), value))
            SetDefaultCompactness(value);
        if (ParseReal(BGThreshold->text(), value))
            SetDefaultBGThreshold(value);
        const double rg = double(RGSlider->value()) / RGSlider->maximum();
        RGThreshold->setText(FormatReal(rg));
        SetDefaultRGThreshold(rg);
    });
    if (OnChangeDefaults)
        OnChangeDefaults(this);
}

void TToothForm::OkBtnClick()
{
    FlushAppraise();
    if (tooth)
        Guarded(this, [this] { tooth->SaveStat(); });
    close();
}

void TToothForm::closeEvent(QCloseEvent* event)
{
    if (!fClosed) {
        fClosed = true;
        // A stroke still waiting for its reclassification is saved before the window goes.
        FlushAppraise();
        if (OnToothClose)
            OnToothClose(this);
        // A transform moved by hand and not yet recalculated keeps the pixel data in memory anyway.
        fReferenceLease.reset();
        fLease.reset();
    }
    event->accept();
}

void TToothForm::ZoomChanged(double Zoom)
{
    ZoomLabel->setText(QString("%1 %").arg(RoundEven(Zoom * 100)));
}
