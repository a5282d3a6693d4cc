// The tooth editor: one window per photograph, in which the user inspects the superpixels, paints
// them into classes by hand, changes the segmentation parameters and the two thresholds with live
// reclassification, adjusts or recomputes the alignment, sets or disables the tooth mask, undoes
// and redoes those changes, and steps to the neighbouring photographs of the overview table.
//
// Split by concern: TToothFormLayout.cpp creation and layout; TToothForm.cpp showing a photograph,
// parameters, thresholds and statistics; TToothFormPaint.cpp the mouse on the picture (hover, painting, inspection views) and
// undo/redo; TToothFormAlign.cpp the transform sliders, alignment, mask, navigation, Compare and
// the messages from the main window.
#pragma once

#include "TTooth.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTableWidget;
class QToolButton;
class TImageView;

// Directions of navigation in the overview table: up and down along the time points of a tooth,
// left and right along the teeth at one time point.
enum class TNextTooth { ntUP, ntLeft, ntDown, ntRight };
// The neighbour of Tooth in direction Dir, or nullptr. Test true only asks; Test false is the move
// itself (the host then closes any other editor on the photograph found).
using TOnNext = std::function<TTooth*(TNextTooth Dir, TTooth* Tooth, bool Test)>;

class TToothForm : public QWidget {
    Q_OBJECT
public:
    // A window of its own; parent (the main window) owns it. It deletes itself when closed.
    explicit TToothForm(QWidget* parent = nullptr);
    ~TToothForm() override;

    // Shows t (nothing when t is nullptr). An unsegmented photograph is segmented with the default
    // parameters at once. The photograph must outlive the editor's use of it: the host closes its
    // editors before it frees photographs.
    void ShowTooth(TTooth* t);
    TTooth* Tooth() const { return tooth; }
    // True from the moment the window was asked to close: it is on its way out.
    bool Closed() const { return fClosed; }

    // Events, each tested before it is called. OnChangeStat: the photograph's classes or
    // measurements changed (already saved). OnFindTooth: its display image changed for an
    // inspection view. OnMaskSet: its mask is to be carried to its tooth's other photographs.
    std::function<void(TTooth*)> OnChangeStat, OnFindTooth, OnMaskSet;
    // OnChangeDefaults: new default parameters were stored. OnToothClose: the window is closing.
    std::function<void(TToothForm*)> OnChangeDefaults, OnToothClose;
    TOnNext OnNext;

    // ShowStat's text of one measurement: the general format with the user's decimal separator,
    // at most 7 characters, an exponent always kept whole.
    static QString StatText(double Value);
    // For the tests and benchmarks: the picture and the alignment-quality row of the statistics.
    TImageView* View() const { return Image; }
    static constexpr int QualityRow = 5;

public slots:
    // Messages from the main window, delivered queued. Sender's mask was copied to the other
    // photographs of its tooth: an editor on one of them reclassifies and refreshes.
    void ToothMaskSet(TTooth* Sender);
    // The teeth were renamed: the caption follows.
    void ToothRenamed();
    bool Undo();
    bool Redo();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    // Picture (TToothFormPaint.cpp).
    void ImageMouseDown(Qt::MouseButton Button, QPoint Pixel);
    void ImageMouseMove(QPoint Pixel);
    void ImageMouseUp(Qt::MouseButton Button, QPoint Pixel);
    void ShapeMouseUp();
    // Parameters and thresholds (TToothForm.cpp).
    void SPNumberChange();
    void CompactnessChange();
    void BGThresholdChange(const QString& text);
    void BGSliderChange(int position);
    void RGSliderChange(int position);
    void RecalculateBtnClick();
    void DefaultParClick();
    void SetAsDefaultbtnClick();
    void OkBtnClick();
    // Alignment, mask, navigation, Compare (TToothFormAlign.cpp).
    void AngleSliderChange(int position);
    void ShiftxSliderChange(int position);
    void ShiftySliderChange(int position);
    void ScaleXSliderChange(int position);
    void ScaleYSliderChange(int position);
    void ResetTransformClick();
    void NelmparsClick();
    void RealignbtnClick();
    void SetMaskClick();
    void DisableMaskClick(bool checked);
    void BUpClick();
    void BLeftClick();
    void BDownClick();
    void BRightClick();
    void CompareClick();
    void ZoomChanged(double Zoom);

private:
    // Everything undo restores: the hand classes and the inputs of classification.
    struct TEditState {
        std::vector<std::pair<int32_t, bool>> Classes; // Kind and Fixed of every superpixel
        double BGThreshold = 0, RGThreshold = 0;
        std::shared_ptr<const TIntVector> Mask;
        bool DisableMask = false;
    };
    struct TEditStep {
        int Merge; // consecutive steps of one slider drag merge into one
        TEditState Before, After;
    };

    // Creation (TToothFormLayout.cpp).
    QWidget* BuildPicture();
    QWidget* BuildClassifiedPanel();
    QWidget* BuildPanel1();
    void ConnectControls();
    void FitWindowToPicture();
    // Showing (TToothForm.cpp).
    void ShowParams();
    void ShowStat();
    void ShowContour();
    void ShowCaption();
    void EnableArrows();
    int32_t PixelIndex(int32_t x, int32_t y) const;
    void ChangedStat();
    void Recalculate();
    // Picture (TToothFormPaint.cpp).
    void PressOn(Qt::MouseButton Button, QPoint Pixel);
    void PaintLine(QPoint From, QPoint To);
    void ScheduleAppraise();
    void FlushAppraise();
    void Highlight(QPoint Pixel);
    void MeasureSuperpixels();
    void ShowShape();
    // Undo (TToothFormPaint.cpp).
    TEditState Snapshot();
    void Restore(const TEditState& State);
    void PushStep(int Merge, TEditState Before);
    void ClearUndo();
    void EnableUndo();
    // Alignment (TToothFormAlign.cpp).
    void ApplyTransform();
    void ShowTransPars(const TTransPars& pars);
    void TransformChanged();
    void Align(bool Realign);
    void Navigate(TNextTooth Dir);
    QImage Composed(const QImage& Contour) const;
    void ShowQuality();

    TTooth* tooth = nullptr; // not owned; the main window closes its editors before it frees photographs
    // The pixel data of the photograph shown and of its tooth's reference, held while the window is open.
    TPixelLease fLease, fReferenceLease;
    int32_t delx = 0, dely = 0;
    QImage buf;    // the picture with the hover highlight
    QImage fShown; // the picture as shown without the highlight (Contour, or Compare's mix)
    bool DisableUpdate = false;
    bool LeftButtonPressed = false;
    int32_t ShapeIndex = 0;
    bool fClosed = false;
    // Painting: the stroke's last pixel, its state before, and whether a reclassification waits.
    QPoint fLastPaint;
    bool fHaveLastPaint = false;
    bool fStrokeChanged = false;
    TEditState fStrokeBefore;
    bool fAppraisePending = false;
    bool fMergeOpen = false; // the last step belongs to the slider drag still going on
    QPoint fHover{-1, -1};
    // Bounding box of every superpixel, so that a highlight touches only its own part of the
    // picture; empty until the first hover after a segmentation.
    std::vector<QRect> fBoxes;
    std::vector<TEditStep> fUndo, fRedo;
    std::shared_ptr<const TIntVector> fMaskShared; // shared by the snapshots while the mask is unchanged

    // Controls, named as the user knows them.
    TImageView* Image = nullptr;
    QLabel* ZoomLabel = nullptr;
    QScrollBar* ScaleYSlider = nullptr;
    QScrollBar* ShiftySlider = nullptr;
    QScrollBar* ShiftxSlider = nullptr;
    QScrollBar* ScaleXSlider = nullptr;
    QScrollBar* AngleSlider = nullptr;
    QWidget* ClassifiedPanel = nullptr;
    QGroupBox* Classified = nullptr;
    QButtonGroup* fShowGroup = nullptr;
    QPushButton* ResetTransform = nullptr;
    QPushButton* Nelmpars = nullptr;
    QPushButton* Realignbtn = nullptr;
    QCheckBox* Deformation = nullptr;
    QPushButton* SetMask = nullptr;
    QCheckBox* DisableMask = nullptr;
    QCheckBox* ThisImage = nullptr;
    QPushButton* Compare = nullptr;
    QComboBox* CompareMode = nullptr;
    QWidget* Panel1 = nullptr;
    QLineEdit* SPNumber = nullptr;
    QLineEdit* Compactness = nullptr;
    QPushButton* RecalculateBtn = nullptr;
    QToolButton* Shape = nullptr;
    QTableWidget* Table = nullptr;
    QPushButton* OkBtn = nullptr;
    QLineEdit* BGThreshold = nullptr;
    QScrollBar* BGSlider = nullptr;
    QLabel* RGThreshold = nullptr;
    QScrollBar* RGSlider = nullptr;
    QPushButton* DefaultPar = nullptr;
    QPushButton* SetAsDefaultbtn = nullptr;
    QLabel* SPNum = nullptr;
    QLabel* AreaLabel = nullptr;
    QLabel* Redlabel = nullptr;
    QLabel* GreenLabel = nullptr;
    QLabel* IntensityLabel = nullptr;
    QToolButton* BUp = nullptr;
    QToolButton* BLeft = nullptr;
    QToolButton* BRight = nullptr;
    QToolButton* BDown = nullptr;
    QToolButton* UndoBtn = nullptr;
    QToolButton* RedoBtn = nullptr;
};
