// The tooth editor: creation, the layout of its controls and their connections.
#include "TToothForm.h"

#include "TImageView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QToolButton>

namespace {

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
