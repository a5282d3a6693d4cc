// The main window: creation, layout, geometry and the default-parameter edits.
#include "TForm1.h"

#include "DefaultIniFile.h"
#include "TChartView.h"
#include "TOverviewModel.h"
#include "TStatusPanel.h"
#include "UiErrors.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <climits>

namespace {

// Design sizes of the window and its three panels.
constexpr int DesignWidth = 1128, DesignHeight = 747;
constexpr int DesignDirViewWidth = 225, DesignPanel4Height = 264, DesignPanel3Width = 272;

QLineEdit* ParameterEdit(QGridLayout* grid, int row, const QString& name)
{
    auto* label = new QLabel(name);
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setMinimumWidth(50);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

QPushButton* Button(const QString& name, const QString& caption)
{
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    // A caption is never cut: the panel grows to fit its buttons instead.
    b->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    return b;
}

QCheckBox* CheckBox(const QString& name, const QString& caption)
{
    auto* c = new QCheckBox(caption);
    c->setObjectName(name);
    return c;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets)
{
    auto* row = new QHBoxLayout;
    for (QWidget* w : widgets)
        row->addWidget(w);
    return row;
}

} // namespace

TForm1::TForm1(const QString& StudyDir, int32_t NumberOfThreads, QWidget* parent)
    : QMainWindow(parent), fStartDir(StudyDir)
{
    Teeth = std::make_unique<TTeeth>(NumberOfThreads);
    Teeth->OnToothDone = [this](TTooth* tooth) { ToothDone(tooth); };
    setWindowTitle("Orvix");
    BuildLayout();
    ConnectControls();
    ConnectEditorHosting();
    QStringList settingsProblems;
    Guarded(this, [&] { settingsProblems = LoadDefaultParams(); });
    ShowDefaults();
    if (!settingsProblems.isEmpty())
        ShowProblems("Default parameters out of range were replaced by the built-in ones.", settingsProblems);
    RestoreGeometry();
    SelectHomeFolder();
    SetExportDefaults();
}

TForm1::~TForm1()
{
    DeleteToothForms();
    StopLoading();
    // Waits for the photographs in hand only; their workers never touch the windows.
    Teeth.reset();
}

void TForm1::BuildLayout()
{
    DirView = new QTreeView;
    DirView->setObjectName("DirView");
    fDirModel = new QFileSystemModel(this);
    fDirModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    fDirModel->setRootPath("/");
    DirView->setModel(fDirModel);
    for (int c = 1; c < fDirModel->columnCount(); ++c)
        DirView->hideColumn(c);
    DirView->setHeaderHidden(true);
    DirView->setRootIsDecorated(false);

    fModel = new TOverviewModel(this);
    Table = new QTableView;
    Table->setObjectName("Table");
    Table->setModel(fModel);
    Table->setItemDelegate(new TThumbnailDelegate(Table));
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    Table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    Table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    for (QHeaderView* h : {Table->horizontalHeader(), Table->verticalHeader()}) {
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setMinimumSectionSize(1);
    }
    Table->horizontalHeader()->setFixedHeight(24);
    Table->verticalHeader()->setFixedWidth(32);
    Table->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    Table->viewport()->installEventFilter(this);
    Panel4 = new QWidget;
    Panel4->setObjectName("Panel4");
    auto* panel4Layout = new QVBoxLayout(Panel4);
    panel4Layout->setContentsMargins(0, 0, 0, 0);
    panel4Layout->addWidget(Table);

    Panel3 = BuildCommandPanel();
    Chart = new TChartView;

    Splitter3 = new QSplitter(Qt::Horizontal);
    Splitter3->setObjectName("Splitter3");
    Splitter3->addWidget(Panel3);
    Splitter3->addWidget(Chart);
    Splitter2 = new QSplitter(Qt::Vertical);
    Splitter2->setObjectName("Splitter2");
    Splitter2->addWidget(Panel4);
    Splitter2->addWidget(Splitter3);
    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->addWidget(DirView);
    Splitter1->addWidget(Splitter2);
    // Extra space goes to the table and the chart: the stored panel sizes stay as they were.
    for (QSplitter* s : {Splitter1, Splitter2, Splitter3}) {
        s->setStretchFactor(0, 0);
        s->setStretchFactor(1, 1);
        s->setChildrenCollapsible(false);
    }
    setCentralWidget(Splitter1);

    StatusBar = new TStatusPanel;
    statusBar()->addWidget(StatusBar, 1);
    Timer = new QTimer(this);
    Timer->setInterval(500);
}

QWidget* TForm1::BuildCommandPanel()
{
    auto* panel = new QWidget;
    panel->setObjectName("Panel3");
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    CellSize = new QScrollBar(Qt::Horizontal);
    CellSize->setObjectName("CellSize");
    CellSize->setRange(32, 512);
    CellSize->setValue(128);
    CellSize->setToolTip("Thumbnail size");
    layout->addWidget(CellSize);

    Animal = new QToolButton;
    Animal->setObjectName("Animal");
    Animal->setIconSize({64, 64});
    Animal->setFixedSize(68, 68);
    Animal->setAutoRaise(true);
    Animal->setToolTip("Species of the study: click to switch between dog and cat");
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    SPNumber = ParameterEdit(grid, 0, "SPNumber");
    Compactness = ParameterEdit(grid, 1, "Compactness");
    BGThreshold = ParameterEdit(grid, 2, "BGThreshold");
    RGThreshold = ParameterEdit(grid, 3, "RGThreshold");
    SPNumber->setText("200");
    Compactness->setText("20.0");
    BGThreshold->setText("0.5");
    RGThreshold->setText("0");
    StopBTN = Button("StopBTN", "Stop");
    StopBTN->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto* params = new QHBoxLayout;
    params->addWidget(Animal, 0, Qt::AlignTop);
    params->addLayout(grid, 1);
    params->addWidget(StopBTN);
    layout->addLayout(params);

    CalcAllBtn = Button("CalcAllBtn", "Calculate NEW");
    AlignBtn = Button("AlignBtn", "Align NEW");
    Deformation = CheckBox("Deformation", "Deformation");
    Deformation->setToolTip("If checked allows stretching/shrinking of the image");
    layout->addLayout(Row({CalcAllBtn, AlignBtn, Deformation}));
    RecalculateALL = Button("RecalculateALL", "Recalculate ALL");
    Realign = Button("Realign", "Realign ALL");
    RecalculateALL->setEnabled(false);
    Realign->setEnabled(false);
    iamsure = CheckBox("iamsure", "I am sure");
    layout->addLayout(Row({RecalculateALL, Realign, iamsure}));
    CheckALL = CheckBox("CheckALL", "Check ALL");
    Average = CheckBox("Average", "Average");
    layout->addLayout(Row({CheckALL, Average}));
    ParamBox = new QComboBox;
    ParamBox->setObjectName("ParamBox");
    ParamBox->addItems({"Total Area", "Red Area", "Green Area", "R/G Ratio", "Red %"});
    ParamBox->setCurrentText("R/G Ratio");
    ExportBtn = Button("ExportBtn", "Export");
    ExportBtn->setToolTip("Adds a block with every measurement of the study to a spreadsheet file");
    layout->addLayout(Row({ParamBox, ExportBtn}));
    toothlist = new QListWidget;
    toothlist->setObjectName("toothlist");
    layout->addWidget(toothlist, 1);
    return panel;
}

void TForm1::ConnectControls()
{
    connect(DirView->selectionModel(), &QItemSelectionModel::currentChanged, this, &TForm1::DirViewChange);
    connect(Animal, &QToolButton::clicked, this, &TForm1::animalClick);
    connect(CellSize, &QScrollBar::valueChanged, this, &TForm1::CellSizeChange);
    connect(SPNumber, &QLineEdit::textChanged, this, &TForm1::SPNumberChange);
    connect(Compactness, &QLineEdit::textChanged, this, &TForm1::CompactnessChange);
    connect(BGThreshold, &QLineEdit::textChanged, this, &TForm1::BGThresholdChange);
    connect(RGThreshold, &QLineEdit::textChanged, this, &TForm1::RGThresholdChange);
    connect(CalcAllBtn, &QPushButton::clicked, this, &TForm1::CalcAllBtnClick);
    connect(AlignBtn, &QPushButton::clicked, this, &TForm1::AlignBtnClick);
    connect(RecalculateALL, &QPushButton::clicked, this, &TForm1::RecalculateALLClick);
    connect(Realign, &QPushButton::clicked, this, &TForm1::RealignClick);
    connect(iamsure, &QCheckBox::toggled, this, &TForm1::iamsureClick);
    connect(StopBTN, &QPushButton::clicked, this, &TForm1::StopBTNClick);
    connect(Timer, &QTimer::timeout, this, &TForm1::TimerTimer);
    connect(ParamBox, &QComboBox::currentIndexChanged, this, &TForm1::ParamBoxChange);
    connect(Average, &QCheckBox::clicked, this, &TForm1::AverageClick);
    connect(CheckALL, &QCheckBox::clicked, this, &TForm1::CheckALLClick);
    connect(toothlist, &QListWidget::itemChanged, this, &TForm1::toothlistClickCheck);
    connect(ExportBtn, &QPushButton::clicked, this, &TForm1::ExportBtnClick);
}

void TForm1::RestoreGeometry()
{
    resize(DesignWidth, DesignHeight);
    const TDefaultIniFile& ini = SettingsFile();
    // A key that is missing leaves the window where the window system puts it.
    const int32_t top = ini.ReadInteger(SettingsSection, "Top", INT_MIN);
    const int32_t left = ini.ReadInteger(SettingsSection, "Left", INT_MIN);
    const int32_t width = ini.ReadInteger(SettingsSection, "Width", DesignWidth);
    const int32_t height = ini.ReadInteger(SettingsSection, "Height", DesignHeight);
    if (top != INT_MIN && left != INT_MIN)
        setGeometry(left, top, width, height);
    else
        resize(width, height);
    // A window that starts minimised looks like a program that did not start: open it normal.
    if (ini.ReadInteger(SettingsSection, "WindowState", 0) == 2)
        setWindowState(Qt::WindowMaximized);
    const int32_t dirWidth = ini.ReadInteger(SettingsSection, "Splitter1", DesignDirViewWidth);
    const int32_t panel4Height = ini.ReadInteger(SettingsSection, "Splitter2", DesignPanel4Height);
    const int32_t panel3Width = ini.ReadInteger(SettingsSection, "Splitter3",
                                                std::max(DesignPanel3Width, Panel3->minimumSizeHint().width()));
    Splitter1->setSizes({dirWidth, std::max(1, width - dirWidth)});
    Splitter2->setSizes({panel4Height, std::max(1, height - panel4Height)});
    Splitter3->setSizes({panel3Width, std::max(1, width - dirWidth - panel3Width)});
}

void TForm1::SaveGeometry()
{
    // The normal geometry, so that a maximised window comes back to the size the user gave it.
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    int32_t state = 0;
    if (isMaximized())
        state = 2;
    else if (isMinimized())
        state = 1;
    TDefaultIniFile& ini = SettingsFile();
    ini.WriteInteger(SettingsSection, "Top", g.top());
    ini.WriteInteger(SettingsSection, "Left", g.left());
    ini.WriteInteger(SettingsSection, "Width", g.width());
    ini.WriteInteger(SettingsSection, "Height", g.height());
    ini.WriteInteger(SettingsSection, "Splitter1", Splitter1->sizes().value(0));
    ini.WriteInteger(SettingsSection, "Splitter2", Splitter2->sizes().value(0));
    ini.WriteInteger(SettingsSection, "Splitter3", Splitter3->sizes().value(0));
    ini.WriteInteger(SettingsSection, "WindowState", state);
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The last study opens once the window is on the screen.
    if (!fShownOnce) {
        fShownOnce = true;
        QMetaObject::invokeMethod(this, &TForm1::RestoreLastDir, Qt::QueuedConnection);
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Nothing is left half-written: loading stops after the photographs in hand, a run after the
    // photographs its workers hold (the study waits for them when it goes).
    StopLoading();
    Teeth->AbortCalc();
    if (!fGeometrySaved) {
        fGeometrySaved = true;
        Guarded(this, [this] { SaveGeometry(); });
    }
    event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Table->viewport() && event->type() == QEvent::MouseButtonPress) {
        const QModelIndex index = Table->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        // In the grid's numbering, where row and column 0 are the headers.
        LastCol = index.isValid() ? index.column() + 1 : -1;
        LastRow = index.isValid() ? index.row() + 1 : -1;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowDefaults()
{
    // Each text that changes fires its edit's handler, which stores the same value again.
    const TDefaultIniFile& ini = SettingsFile();
    SPNumber->setText(QString::number(DefaultSPNumber.load()));
    Compactness->setText(ini.FormatFloat(DefaultCompactness.load()));
    BGThreshold->setText(ini.FormatFloat(DefaultBGThreshold.load()));
    RGThreshold->setText(ini.FormatFloat(DefaultRGThreshold.load()));
}

void TForm1::CellSizeChange(int position)
{
    // Cells keep the 415 : 311 proportions of the camera's photographs.
    const int32_t height = RoundEven(double(position * 311) / 415);
    QHeaderView* columns = Table->horizontalHeader();
    QHeaderView* rows = Table->verticalHeader();
    columns->setDefaultSectionSize(position);
    rows->setDefaultSectionSize(height);
    for (int c = 0; c < columns->count(); ++c)
        columns->resizeSection(c, position);
    for (int r = 0; r < rows->count(); ++r)
        rows->resizeSection(r, height);
}

void TForm1::SPNumberChange(const QString& text)
{
    bool ok = false;
    const int32_t value = text.toInt(&ok, 10);
    if (ok && ValidSPNumber(value))
        Guarded(this, [value] { SetDefaultSPNumber(value); });
}

namespace {

// A real in the settings' format and in range, or nothing: the edits change on every keystroke,
// so a value out of range (the "0" of "0.5") is passed over like text that is not a number.
bool ReadReal(const QString& text, bool (*valid)(double), double& value)
{
    return SettingsFile().ParseFloat(text, value) && valid(value);
}

} // namespace

void TForm1::CompactnessChange(const QString& text)
{
    double value;
    if (ReadReal(text, ValidCompactness, value))
        Guarded(this, [value] { SetDefaultCompactness(value); });
}

void TForm1::BGThresholdChange(const QString& text)
{
    double value;
    if (ReadReal(text, ValidBGThreshold, value))
        Guarded(this, [value] { SetDefaultBGThreshold(value); });
}

void TForm1::RGThresholdChange(const QString& text)
{
    double value;
    if (ReadReal(text, ValidRGThreshold, value))
        Guarded(this, [value] { SetDefaultRGThreshold(value); });
}

void TForm1::ShowProblems(const QString& Summary, const QStringList& Lines)
{
    if (fProblems)
        fProblems->close();
    fProblems = ::ShowProblems(this, "Orvix", Summary, Lines);
}
