// The main window: the folder tree, the overview table, the command panel with the default
// parameters and the batch commands, the chart area and the status bar. It owns the study.
//
// Split by concern: TForm1.cpp creation, layout, geometry and the parameter edits;
// TForm1Folder.cpp folder loading and the species; TForm1Batch.cpp the batch commands and progress;
// TForm1Editors.cpp the tooth editors it opens and serves.
#pragma once

#include "TTeeth.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QToolButton;
class QLineEdit;
class QListWidget;

class QModelIndex;
class QPushButton;
class QScrollBar;
class QSplitter;
class QTableView;
class QTimer;
class QTreeView;
class TChartView;
class TOverviewModel;
class TStatusPanel;
class TToothForm;
struct TThumb;
enum class TNextTooth;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // StudyDir, when not empty, is opened instead of the last study folder once the window shows.
    // NumberOfThreads 0: one worker per logical processor.
    explicit TForm1(const QString& StudyDir = {}, int32_t NumberOfThreads = 0, QWidget* parent = nullptr);
    ~TForm1() override;

    // For the window's tests and benchmarks: what the user sees and holds.
    TTeeth& Study() { return *Teeth; }
    TOverviewModel* OverviewModel() const { return fModel; }
    TChartView* ChartView() const { return Chart; }
    bool Loading() const { return fLoader.joinable(); }
    bool Busy() const { return Loading() || Teeth->Running(); }
    // Opens Folder as the study, as selecting it in the tree does.
    void OpenFolder(const QString& Folder);
    QMessageBox* ProblemsBox() const { return fProblems; }
    int32_t LastCol = -1, LastRow = -1;

    // The export's questions and the desktop hand-off, replaceable by tests. AskExportFile returns
    // the chosen file or nothing; AskOpenElsewhere returns true to export to a new file instead;
    // OpenDocument returns false when no program could show the file.
    std::function<QString(const QString& Suggested)> AskExportFile;
    std::function<bool(const QString& File)> AskOpenElsewhere;
    std::function<bool(const QString& File)> OpenDocument;
    // The file of this run's exports; empty until the first one.
    QString ExportFile() const { return fExportFile; }
    // Tooth editors (TForm1Editors.cpp). The open editor of Tooth, or nullptr.
    TToothForm* FindToothForm(const TTooth* Tooth) const;

signals:
    // The teeth were renamed (species switch); open editors retitle themselves. Queued.
    void ToothRenamed();
    // Tooth's mask was copied to the other photographs of its tooth; editors on those reclassify.
    // Queued.
    void ToothMaskSet(TTooth* Tooth);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Folder and species (TForm1Folder.cpp).
    void DirViewChange(const QModelIndex& current);
    void RestoreLastDir();
    void animalClick();
    // Parameters and table (TForm1.cpp).
    void CellSizeChange(int position);
    void SPNumberChange(const QString& text);
    void CompactnessChange(const QString& text);
    void BGThresholdChange(const QString& text);
    void RGThresholdChange(const QString& text);
    // Batch (TForm1Batch.cpp).
    void CalcAllBtnClick();
    void AlignBtnClick();
    void RecalculateALLClick();
    void RealignClick();
    void iamsureClick(bool checked);
    void StopBTNClick();
    void TimerTimer();
    // Chart (TForm1Chart.cpp).
    void ParamBoxChange(int index);
    void AverageClick();
    void toothlistClickCheck();
    void CheckALLClick(bool checked);
    // Export (TForm1Export.cpp).
    void ExportBtnClick();

private:
    // Creation (TForm1.cpp).
    void BuildLayout();
    QWidget* BuildCommandPanel();
    void ConnectControls();
    void RestoreGeometry();
    void SaveGeometry();
    void ShowDefaults();
    // Folder and species (TForm1Folder.cpp).
    void SelectHomeFolder();
    void SelectFolderInTree(const QString& Folder);
    void FolderLoaded(std::vector<TFailure> Failures, std::vector<std::pair<const TTooth*, TThumb>> Thumbs);
    void SetAnimal(bool Dog);
    void ShowAnimal();
    void ShowToothNames();
    void SyncToothList();
    void StopLoading();
    // Chart (TForm1Chart.cpp): rebuilt from the study, the checked teeth and the chosen measurement.
    void UpdateChart();
    // Export (TForm1Export.cpp).
    QString ChooseExportFile();
    void SetExportDefaults();
    // Batch (TForm1Batch.cpp).
    void StartBatch(bool OnlyNew, bool Align);
    void BatchTerminated(bool Success);
    void ToothDone(TTooth* Tooth);
    void SetProgress(double Value);
    // Commands that rebuild the study or run on it wait while it is loading or running.
    void HoldCommands(bool Hold);
    void ShowProblems(const QString& Summary, const QStringList& Lines);
    // Tooth editors (TForm1Editors.cpp).
    void ConnectEditorHosting();
    void TableDblClick();
    void OpenToothForm(TTooth* p);
    // Closes every editor, last opened first; before the study is rebuilt and before a batch.
    void CloseToothForms();
    void DeleteToothForms();
    TTooth* NextTooth(TNextTooth Dir, TTooth* Tooth, bool Test);
    void MaskSet(TTooth* Sender);
    void ToothEdited(TTooth* Tooth);
    void RefreshEdited();
    void RefreshCell(TTooth* Tooth);

    std::unique_ptr<TTeeth> Teeth;
    std::atomic<bool> Abort{false};
    double fProgress = 0;
    QString fStartDir;
    bool fGeometrySaved = false;
    bool fShownOnce = false;
    bool fSelectingQuietly = false; // a selection made by the window itself, not a folder choice
    bool fRunAligns = false;
    bool fStopRequested = false;
    std::thread fLoader;
    QString fExportFile;
    QPointer<QMessageBox> fProblems;
    // Photographs an editor changed whose cells and chart wait for the next refresh.
    std::vector<TTooth*> fEdited;
    QTimer* fEditedTimer = nullptr;

    // Controls, named as the user knows them.
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QSplitter* Splitter3 = nullptr;
    QTreeView* DirView = nullptr;
    QFileSystemModel* fDirModel = nullptr;
    QWidget* Panel4 = nullptr;
    QTableView* Table = nullptr;
    TOverviewModel* fModel = nullptr;
    QWidget* Panel3 = nullptr;
    QScrollBar* CellSize = nullptr;
    QToolButton* Animal = nullptr;
    QLineEdit* SPNumber = nullptr;
    QLineEdit* Compactness = nullptr;
    QLineEdit* BGThreshold = nullptr;
    QLineEdit* RGThreshold = nullptr;
    QPushButton* StopBTN = nullptr;
    QPushButton* CalcAllBtn = nullptr;
    QPushButton* AlignBtn = nullptr;
    QCheckBox* Deformation = nullptr;
    QPushButton* RecalculateALL = nullptr;
    QPushButton* Realign = nullptr;
    QCheckBox* iamsure = nullptr;
    QCheckBox* CheckALL = nullptr;
    QCheckBox* Average = nullptr;
    QComboBox* ParamBox = nullptr;
    QPushButton* ExportBtn = nullptr;
    QListWidget* toothlist = nullptr;
    TChartView* Chart = nullptr;
    TStatusPanel* StatusBar = nullptr;
    QTimer* Timer = nullptr;
};
