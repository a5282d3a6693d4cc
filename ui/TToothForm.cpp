// The tooth editor: creation, layout, showing a photograph, the parameters, the thresholds and
// the statistics.
#include "TToothForm.h"

#include "DefaultIniFile.h"
#include "TImageView.h"
#include "TTeeth.h"
#include "UiErrors.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QToolButton>

namespace {

QString FormatReal(double v) { return SettingsFile().FormatFloat(v); }
bool ParseReal(const QString& text, double& v) { return SettingsFile().ParseFloat(text, v); }

template <typename T>
T* Named(T* w, const char* name)
{
    w->setObjectName(name);
    return w;
}

QPushButton* Button(const char* name, const QString& caption)
{
    return Named(new QPushButton(caption), name);
}

QScrollBar* Slider(const char* name, Qt::Orientation o, int from, int to)
{
    auto* s = Named(new QScrollBar(o), name);
    s->setRange(from, to);
    s->setSingleStep(1);
    s->setPageStep(10);
    s->setValue(0);
    return s;
}

QLineEdit* LabelledEdit(QFormLayout* form, const char* name, const QString& text)
{
    auto* edit = Named(new QLineEdit(text), name);
    edit->setMaximumWidth(80);
    form->addRow(name, edit);
    return edit;
}

QToolButton* Arrow(const char* name, Qt::ArrowType type, const QString& tip)
{
    auto* b = Named(new QToolButton, name);
    b->setArrowType(type);
    b->setToolTip(tip);
    b->setFixedSize(28, 28);
    return b;
}

// Measurements of the statistics table, in the order of TTooth::GetParam.
const char* const StatNames[] = {"Tooth Area", "Red Area", "Green Area", "R/G Ratio", "Red %", "Alignment"};

} // namespace

TToothForm::TToothForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto* top = new QHBoxLayout;
    top->addWidget(BuildPicture(), 1);
    top->addWidget(ClassifiedPanel = BuildClassifiedPanel());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top, 1);
    layout->addWidget(Panel1 = BuildPanel1());
    ConnectControls();
    for (int row = 0; row < Table->rowCount(); ++row)
        Table->setItem(row, 0, new QTableWidgetItem(StatNames[row]));
}

TToothForm::~TToothForm() = default;

QWidget* TToothForm::BuildPicture()
{
    auto* picture = new QWidget;
    auto* grid = new QGridLayout(picture);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(1);
    Image = Named(new TImageView, "Image");
    ScaleYSlider = Slider("ScaleYSlider", Qt::Vertical, -100, 100);
    ShiftySlider = Slider("ShiftySlider", Qt::Vertical, -100, 100);
    ShiftxSlider = Slider("ShiftxSlider", Qt::Horizontal, -100, 100);
    ScaleXSlider = Slider("ScaleXSlider", Qt::Horizontal, -100, 100);
    ScaleYSlider->setToolTip("Vertical scale");
    ShiftySlider->setToolTip("Vertical shift");
    ShiftxSlider->setToolTip("Horizontal shift");
    ScaleXSlider->setToolTip("Horizontal scale");
    // The sliders run along the picture's view, whatever the zoom.
    grid->addWidget(ScaleYSlider, 0, 0);
    grid->addWidget(ShiftySlider, 0, 1);
    grid->addWidget(Image, 0, 2);
    grid->addWidget(ShiftxSlider, 1, 2);
    grid->addWidget(ScaleXSlider, 2, 2);

    auto* zoom = new QHBoxLayout;
    zoom->setSpacing(2);
    auto zoomButton = [&](const char* name, const QString& caption, const QString& tip) {
        auto* b = Named(new QToolButton, name);
        b->setText(caption);
        b->setToolTip(tip);
        zoom->addWidget(b);
        return b;
    };
    connect(zoomButton("FitBtn", "Fit", "Fit the picture to the window (Ctrl+0)"), &QToolButton::clicked,
            Image, &TImageView::FitToWindow);
    connect(zoomButton("ActualSizeBtn", "100 %", "Actual size (Ctrl+1)"), &QToolButton::clicked, Image,
            [this] { Image->SetZoom(1); });
    connect(zoomButton("ZoomOutBtn", QString(QChar(0x2212)), "Zoom out (Ctrl+minus, Ctrl+wheel)"),
            &QToolButton::clicked, Image, &TImageView::ZoomOut);
    connect(zoomButton("ZoomInBtn", "+", "Zoom in (Ctrl+plus, Ctrl+wheel)"), &QToolButton::clicked, Image,
            &TImageView::ZoomIn);
    ZoomLabel = Named(new QLabel("100 %"), "ZoomLabel");
    ZoomLabel->setMinimumWidth(ZoomLabel->fontMetrics().horizontalAdvance("1600 %  "));
    zoom->addWidget(ZoomLabel);
    zoom->addStretch(1);
    grid->addLayout(zoom, 3, 2);
    grid->setRowStretch(0, 1);
    grid->setColumnStretch(2, 1);
    return picture;
}

QWidget* TToothForm::BuildClassifiedPanel()
{
    auto* panel = Named(new QWidget, "ClassifiedPanel");
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(2, 0, 0, 0);
    AngleSlider = Slider("AngleSlider", Qt::Vertical, -180, 180);
    AngleSlider->setToolTip("Rotation, degrees");
    row->addWidget(AngleSlider);
    auto* column = new QVBoxLayout;
    row->addLayout(column);

    Classified = Named(new QGroupBox("Show"), "Classified");
    Classified->setToolTip("What the right mouse button shows while it is held on the picture");
    auto* items = new QVBoxLayout(Classified);
    fShowGroup = new QButtonGroup(this);
    const QStringList names{"All", "Intensity", "Red Channel", "Green Channel", "Blue Channel"};
    for (int i = 0; i < names.size(); ++i) {
        auto* radio = new QRadioButton(names[i]);
        fShowGroup->addButton(radio, i);
        items->addWidget(radio);
    }
    fShowGroup->button(0)->setChecked(true);
    column->addWidget(Classified);

    Compare = Button("Compare", "Compare");
    Compare->setCheckable(true);
    Compare->setToolTip("Show the tooth's first photograph over this one, to judge the alignment");
    CompareMode = Named(new QComboBox, "CompareMode");
    CompareMode->addItems({"Blend", "Checkerboard"});
    auto* compareRow = new QHBoxLayout;
    compareRow->addWidget(Compare);
    compareRow->addWidget(CompareMode);
    column->addLayout(compareRow);

    ResetTransform = Button("ResetTransform", "Reset Transform");
    Nelmpars = Button("Nelmpars", "Align");
    Realignbtn = Button("Realignbtn", "Realign");
    Deformation = Named(new QCheckBox("Deformation"), "Deformation");
    Deformation->setToolTip("If checked allows stretching/shrinking of the image");
    SetMask = Button("SetMask", "Set Mask");
    DisableMask = Named(new QCheckBox("Disable Mask"), "DisableMask");
    ThisImage = Named(new QCheckBox("This Image Only"), "ThisImage");
    for (QWidget* w : std::initializer_list<QWidget*>{ResetTransform, Nelmpars, Realignbtn, Deformation,
                                                      SetMask, DisableMask, ThisImage})
        column->addWidget(w);
    column->addStretch(1);
    return panel;
}

QWidget* TToothForm::BuildPanel1()
{
    auto* panel = Named(new QWidget, "Panel1");
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 4, 0, 0);

    auto* group1 = Named(new QGroupBox("Superpixels"), "GroupBox1");
    auto* form = new QFormLayout(group1);
    SPNumber = LabelledEdit(form, "SPNumber", "200");
    Compactness = LabelledEdit(form, "Compactness", "20.0");
    RecalculateBtn = Button("RecalculateBtn", "Recalculate");
    form->addRow(RecalculateBtn);
    Shape = Named(new QToolButton, "Shape");
    Shape->setFixedSize(22, 22);
    Shape->setToolTip("The class the left mouse button paints: click to change");
    form->addRow(Named(new QLabel("Set Superpixel to"), "Label2"), Shape);
    ShowShape();
    row->addWidget(group1);

    Table = Named(new QTableWidget(6, 2), "Table");
    Table->horizontalHeader()->hide();
    Table->verticalHeader()->hide();
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionMode(QAbstractItemView::NoSelection);
    Table->setFocusPolicy(Qt::NoFocus);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 4);
    Table->setColumnWidth(0, Table->fontMetrics().horizontalAdvance("Tooth Area") + 12);
    Table->setColumnWidth(1, Table->fontMetrics().horizontalAdvance("0.000000E-00") + 12);
    Table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Table->setFixedSize(Table->columnWidth(0) + Table->columnWidth(1) + 2 * Table->frameWidth(),
                        6 * Table->rowHeight(0) + 2 * Table->frameWidth());
    auto* statColumn = new QVBoxLayout;
    statColumn->addWidget(Table);
    OkBtn = Button("OkBtn", "OK");
    OkBtn->setToolTip("Save and close");
    statColumn->addWidget(OkBtn);
    statColumn->addStretch(1);
    row->addLayout(statColumn);

    auto* thresholds = new QGridLayout;
    thresholds->setVerticalSpacing(2);
    BGThreshold = Named(new QLineEdit("0.5"), "BGThreshold");
    BGThreshold->setMaximumWidth(80);
    BGSlider = Slider("BGSlider", Qt::Horizontal, 0, 100);
    BGSlider->setMinimumWidth(150);
    thresholds->addWidget(new QLabel("BGThreshold"), 0, 0);
    thresholds->addWidget(BGThreshold, 0, 1);
    thresholds->addWidget(BGSlider, 1, 0, 1, 2);
    RGThreshold = Named(new QLabel("0"), "RGThreshold");
    RGSlider = Slider("RGSlider", Qt::Horizontal, -100, 100);
    thresholds->addWidget(Named(new QLabel("RG Threshold"), "Label1"), 2, 0);
    thresholds->addWidget(RGThreshold, 2, 1);
    thresholds->addWidget(RGSlider, 3, 0, 1, 2);
    DefaultPar = Button("DefaultPar", "Set Default Params");
    SetAsDefaultbtn = Button("SetAsDefaultbtn", "Set AS Default Params");
    thresholds->addWidget(DefaultPar, 4, 0, 1, 2);
    thresholds->addWidget(SetAsDefaultbtn, 5, 0, 1, 2);
    thresholds->setRowStretch(6, 1);
    row->addLayout(thresholds);

    auto* group2 = Named(new QGroupBox("SP info"), "GroupBox2");
    auto* info = new QVBoxLayout(group2);
    SPNum = Named(new QLabel("#"), "SPNum");
    AreaLabel = Named(new QLabel("Area"), "AreaLabel");
    Redlabel = Named(new QLabel("Red"), "Redlabel");
    GreenLabel = Named(new QLabel("Green"), "GreenLabel");
    IntensityLabel = Named(new QLabel("Intensity"), "IntensityLabel");
    for (QLabel* l : {SPNum, AreaLabel, Redlabel, GreenLabel, IntensityLabel})
        info->addWidget(l);
    group2->setMinimumWidth(group2->fontMetrics().horizontalAdvance("Intensity = 255") + 24);
    info->addStretch(1);
    row->addWidget(group2);

    auto* cross = new QGridLayout;
    cross->setSpacing(1);
    BUp = Arrow("BUp", Qt::UpArrow, "Earlier examination of this tooth (Alt+Up)");
    BLeft = Arrow("BLeft", Qt::LeftArrow, "Previous tooth (Alt+Left)");
    BRight = Arrow("BRight", Qt::RightArrow, "Next tooth (Alt+Right)");
    BDown = Arrow("BDown", Qt::DownArrow, "Later examination of this tooth (Alt+Down)");
    cross->addWidget(BUp, 0, 1);
    cross->addWidget(BLeft, 1, 0);
    cross->addWidget(BRight, 1, 2);
    cross->addWidget(BDown, 2, 1);
    UndoBtn = Named(new QToolButton, "UndoBtn");
    UndoBtn->setText("Undo");
    UndoBtn->setToolTip("Undo the last painting, threshold or mask change (Ctrl+Z)");
    RedoBtn = Named(new QToolButton, "RedoBtn");
    RedoBtn->setText("Redo");
    RedoBtn->setToolTip("Redo (Ctrl+Shift+Z)");
    cross->addWidget(UndoBtn, 3, 0, 1, 3);
    cross->addWidget(RedoBtn, 4, 0, 1, 3);
    cross->setRowStretch(5, 1);
    row->addLayout(cross);
    row->addStretch(1);
    EnableUndo();
    return panel;
}

void TToothForm::ConnectControls()
{
    connect(Image, &TImageView::MouseDown, this, &TToothForm::ImageMouseDown);
    connect(Image, &TImageView::MouseMove, this, &TToothForm::ImageMouseMove);
    connect(Image, &TImageView::MouseUp, this, &TToothForm::ImageMouseUp);
    connect(Image, &TImageView::ZoomChanged, this, &TToothForm::ZoomChanged);
    // Any button on the square steps the class round.
    connect(Shape, &QToolButton::clicked, this, &TToothForm::ShapeMouseUp);
    Shape->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Shape, &QToolButton::customContextMenuRequested, this, &TToothForm::ShapeMouseUp);
    connect(SPNumber, &QLineEdit::textChanged, this, &TToothForm::SPNumberChange);
    connect(Compactness, &QLineEdit::textChanged, this, &TToothForm::CompactnessChange);
    // Only the user's typing moves the slider; the slider's own text changes do not come back.
    connect(BGThreshold, &QLineEdit::textEdited, this, &TToothForm::BGThresholdChange);
    connect(BGSlider, &QScrollBar::valueChanged, this, &TToothForm::BGSliderChange);
    connect(RGSlider, &QScrollBar::valueChanged, this, &TToothForm::RGSliderChange);
    for (QScrollBar* s : {BGSlider, RGSlider})
        connect(s, &QScrollBar::sliderPressed, this, [this] { fMergeOpen = false; });
    connect(RecalculateBtn, &QPushButton::clicked, this, &TToothForm::RecalculateBtnClick);
    connect(DefaultPar, &QPushButton::clicked, this, &TToothForm::DefaultParClick);
    connect(SetAsDefaultbtn, &QPushButton::clicked, this, &TToothForm::SetAsDefaultbtnClick);
    connect(OkBtn, &QPushButton::clicked, this, &TToothForm::OkBtnClick);
    connect(AngleSlider, &QScrollBar::valueChanged, this, &TToothForm::AngleSliderChange);
    connect(ShiftxSlider, &QScrollBar::valueChanged, this, &TToothForm::ShiftxSliderChange);
    connect(ShiftySlider, &QScrollBar::valueChanged, this, &TToothForm::ShiftySliderChange);
    connect(ScaleXSlider, &QScrollBar::valueChanged, this, &TToothForm::ScaleXSliderChange);
    connect(ScaleYSlider, &QScrollBar::valueChanged, this, &TToothForm::ScaleYSliderChange);
    connect(ResetTransform, &QPushButton::clicked, this, &TToothForm::ResetTransformClick);
    connect(Nelmpars, &QPushButton::clicked, this, &TToothForm::NelmparsClick);
    connect(Realignbtn, &QPushButton::clicked, this, &TToothForm::RealignbtnClick);
    connect(SetMask, &QPushButton::clicked, this, &TToothForm::SetMaskClick);
    // clicked, not toggled: showing a photograph ticks the box without changing the photograph.
    connect(DisableMask, &QCheckBox::clicked, this, &TToothForm::DisableMaskClick);
    connect(BUp, &QToolButton::clicked, this, &TToothForm::BUpClick);
    connect(BLeft, &QToolButton::clicked, this, &TToothForm::BLeftClick);
    connect(BDown, &QToolButton::clicked, this, &TToothForm::BDownClick);
    connect(BRight, &QToolButton::clicked, this, &TToothForm::BRightClick);
    connect(Compare, &QPushButton::clicked, this, &TToothForm::CompareClick);
    connect(CompareMode, &QComboBox::currentIndexChanged, this, &TToothForm::CompareClick);
    connect(UndoBtn, &QToolButton::clicked, this, &TToothForm::Undo);
    connect(RedoBtn, &QToolButton::clicked, this, &TToothForm::Redo);

    BUp->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    BLeft->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    BRight->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    BDown->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
    auto shortcut = [this](QKeySequence keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { Undo(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { Redo(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { Image->ZoomIn(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { Image->ZoomIn(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { Image->ZoomOut(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { Image->FitToWindow(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_1), [this] { Image->SetZoom(1); });
}

void TToothForm::ShowTooth(TTooth* t)
{
    if (!t)
        return;
    FlushAppraise();
    if (t != tooth)
        ClearUndo();
    tooth = t;
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
    }
    event->accept();
}

void TToothForm::ZoomChanged(double Zoom)
{
    ZoomLabel->setText(QString("%1 %").arg(RoundEven(Zoom * 100)));
}
