// The tooth editor as a user drives it: opened from the main window's table, offscreen, with the
// mouse on its picture at several zooms, its buttons, sliders and keys, and studies on disk.
#include "DefaultIniFile.h"
#include "StudyFixture.h"
#include "TForm1.h"
#include "TImageView.h"
#include "TOverviewModel.h"
#include "TToothForm.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <set>

namespace {

QString Real(const QString& text) { return QString(text).replace('.', QLocale::system().decimalPoint()); }

bool ShowAndOpen(TForm1& form, const QString& folder)
{
    form.show();
    return Open(form, folder);
}

// Double-clicks the table cell of tooth column col at time point row; the editor that shows it.
TToothForm* DoubleClick(TForm1& form, int col, int row)
{
    auto* table = Control<QTableView>(form, "Table");
    const QModelIndex index = form.OverviewModel()->index(row, col);
    table->scrollTo(index);
    const QPoint at = table->visualRect(index).center();
    // As the window system delivers a double click: press, release, double click, release.
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    TToothForm* editor = form.FindToothForm(form.Study().GetTooth(col, row));
    // Keys go to the window the user works in.
    if (editor) {
        editor->activateWindow();
        // The offscreen platform leaves the main window active; a window manager would not.
        QApplication::setActiveWindow(editor);
    }
    return editor;
}

// The mouse on the picture, at picture pixels, whatever the zoom.
void Press(TToothForm& editor, Qt::MouseButton button, QPoint pixel)
{
    QTest::mousePress(editor.View()->Canvas(), button, {}, editor.View()->CanvasPos(pixel));
}
void Release(TToothForm& editor, Qt::MouseButton button, QPoint pixel)
{
    QTest::mouseRelease(editor.View()->Canvas(), button, {}, editor.View()->CanvasPos(pixel));
}
void Move(TToothForm& editor, QPoint pixel, Qt::MouseButtons buttons = Qt::NoButton)
{
    QWidget* canvas = editor.View()->Canvas();
    const QPoint at = editor.View()->CanvasPos(pixel);
    QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
}

// A pixel whose superpixel has class kind, inside the tooth (the first one found from the centre).
QPoint PixelOfClass(const TTooth& t, int32_t kind)
{
    const int w = t.Image.Width(), h = t.Image.Height();
    for (int r = 0; r < std::max(w, h); ++r)
        for (int y = std::max(0, h / 2 - r); y <= std::min(h - 1, h / 2 + r); ++y)
            for (int x = std::max(0, w / 2 - r); x <= std::min(w - 1, w / 2 + r); ++x)
                if (t.SPList[size_t(t.labels[size_t(x + y * w)])].Kind == kind)
                    return {x, y};
    return {-1, -1};
}

int32_t Label(const TTooth& t, QPoint p) { return t.labels[size_t(p.x() + p.y() * t.Image.Width())]; }

// What the result file beside the photograph holds.
std::unique_ptr<TTooth> OnDisk(const TTooth& t) { return std::make_unique<TTooth>(t.fname, t.ID); }

QImage Thumb(TForm1& form, int col, int row)
{
    const TOverviewModel& model = *form.OverviewModel();
    return model.data(model.index(row, col), TOverviewModel::ThumbRole).value<QImage>();
}

QString Stat(TToothForm& editor, int row)
{
    const QTableWidgetItem* item = Control<QTableWidget>(editor, "Table")->item(row, 1);
    return item ? item->text() : QString();
}

} // namespace

class ToothFormTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> fConfig, fWork;
    QString Study(const QString& name) const { return fWork->filePath(name); }

private slots:
    void init()
    {
        fConfig = std::make_unique<QTemporaryDir>();
        fWork = std::make_unique<QTemporaryDir>();
        qputenv("APPDATA", fConfig->path().toUtf8());
        QDir(fConfig->path()).mkpath("exe");
        OpenSettingsFile(fConfig->filePath("exe"));
    }
    void cleanup()
    {
        CloseSettingsFile();
        fWork.reset();
        fConfig.reset();
    }

    void OpeningSegmentsOnceAndRaisesTheOpenEditor()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TTooth& tooth = *form.Study().GetTooth(0, 0);
        QVERIFY(!tooth.Done());
        const QImage before = Thumb(form, 0, 0);

        TToothForm* editor = DoubleClick(form, 0, 0);
        QVERIFY(editor && editor->isVisible());
        QVERIFY(tooth.Done());
        QCOMPARE(tooth.SPnumber, 400);
        QVERIFY(QFile::exists(tooth.StatFileName()));
        QCOMPARE(editor->windowTitle(), tooth.tname + " Time=0");
        QVERIFY(!Control<QPushButton>(*editor, "RecalculateBtn")->isEnabled());
        QCOMPARE(Stat(*editor, 0), TToothForm::StatText(tooth.Area()));
        QTRY_VERIFY(Thumb(form, 0, 0) != before);
        // A species switch renames the teeth; the caption follows through the event loop.
        const QString dogName = tooth.tname;
        Click(form, "Animal");
        QVERIFY(tooth.tname != dogName);
        QTRY_COMPARE(editor->windowTitle(), tooth.tname + " Time=0");

        // The same cell again: the open editor comes forward, no second one.
        editor->showMinimized();
        QCOMPARE(DoubleClick(form, 0, 0), editor);
        QCOMPARE(form.findChildren<TToothForm*>().size(), 1);
        QVERIFY(!editor->isMinimized());

        // Reopened, a segmented photograph shows its stored state without a new segmentation.
        const TIntVector labels = tooth.labels;
        editor->close();
        TToothForm* again = DoubleClick(form, 0, 0);
        QVERIFY(again && again != editor);
        QCOMPARE(tooth.labels, labels);
        QVERIFY(!Control<QPushButton>(*again, "RecalculateBtn")->isEnabled());
        // Header cells and Enter on the current cell.
        auto* table = Control<QTableView>(form, "Table");
        table->setCurrentIndex(form.OverviewModel()->index(0, 1));
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Return);
        QVERIFY(form.FindToothForm(form.Study().GetTooth(1, 0)));
    }

    void HoverShowsTheSuperpixelUnderThePointer_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::newRow("100 %") << 1.0;
        QTest::newRow("200 %") << 2.0;
        QTest::newRow("300 %, scrolled") << 3.0;
        QTest::newRow("50 %") << 0.5;
    }
    void HoverShowsTheSuperpixelUnderThePointer()
    {
        QFETCH(double, zoom);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        editor->View()->SetZoom(zoom);
        const TTooth& t = *editor->Tooth();
        // Pixels just right of superpixel boundaries: one pixel off would name the neighbour.
        // Below 100 % the pointer reaches every second pixel only.
        int checked = 0;
        const int y = t.Image.Height() / 2, step = zoom < 1 ? 2 : 1;
        for (int x = step; x < t.Image.Width() && checked < 6; x += step) {
            const QPoint p(x, y);
            if (Label(t, p) == Label(t, {x - 1, y}))
                continue;
            Move(*editor, p);
            const TSuperPixel& s = t.SPList[size_t(Label(t, p))];
            QCOMPARE(Control<QLabel>(*editor, "SPNum")->text(), QString("# %1").arg(Label(t, p)));
            QCOMPARE(Control<QLabel>(*editor, "AreaLabel")->text(), QString("Area = %1").arg(s.Area));
            QCOMPARE(Control<QLabel>(*editor, "IntensityLabel")->text(),
                     QString("Intensity = %1").arg(s.Intensity()));
            const QRgb colours[] = {0xFF000000, 0xFF00FF00, 0xFFFF0000};
            const int32_t kind = t.Dirty[size_t(p.x() + p.y() * t.Image.Width())];
            QCOMPARE(editor->View()->Image().pixel(p), colours[kind]);
            ++checked;
        }
        QCOMPARE(checked, 6);
        // Outside the picture nothing happens.
        Move(*editor, {t.Image.Width() + 3, y});
    }

    void LargePhotographOpensFittedAndZooms()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0}, 2400, 1800);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        TImageView* view = editor->View();
        const QRect screen = editor->screen()->availableGeometry();
        QVERIFY(editor->width() <= screen.width() && editor->height() <= screen.height());
        QVERIFY(view->FitMode() && view->Zoom() < 1);
        QVERIFY(view->Canvas()->width() <= view->viewport()->width());
        auto* label = Control<QLabel>(*editor, "ZoomLabel");
        QCOMPARE(label->text(), QString("%1 %").arg(RoundEven(view->Zoom() * 100)));

        QTest::keyClick(editor, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(view->Zoom(), 1.0);
        QCOMPARE(label->text(), QString("100 %"));
        QTest::keyClick(editor, Qt::Key_Plus, Qt::ControlModifier);
        QVERIFY(view->Zoom() > 1);
        const QPoint centre = view->viewport()->rect().center();
        QWheelEvent wheel(centre, view->viewport()->mapToGlobal(centre), {}, {0, -240}, Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QCOMPARE(view->Zoom(), 0.5 * std::sqrt(2.0));
        QTest::keyClick(editor, Qt::Key_0, Qt::ControlModifier);
        QVERIFY(view->FitMode());
    }

    void PaintingSetsClassesTableAndFile_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("shapeClicks");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("green to red at 100 %") << 1.0 << 2 << int(kGreen) << int(kRed);
        QTest::newRow("green to red at 250 %") << 2.5 << 2 << int(kGreen) << int(kRed);
        QTest::newRow("green to black at 200 %") << 2.0 << 0 << int(kGreen) << int(kBackground);
        QTest::newRow("background to green at 100 %") << 1.0 << 1 << int(kBackground) << int(kGreen);
    }
    void PaintingSetsClassesTableAndFile()
    {
        QFETCH(double, zoom);
        QFETCH(int, shapeClicks);
        QFETCH(int, from);
        QFETCH(int, to);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        editor->View()->SetZoom(zoom);
        TTooth& t = *editor->Tooth();
        for (int i = 0; i < shapeClicks; ++i)
            Click(*editor, "Shape");
        // A green superpixel next to the tooth stays connected when it turns green.
        QPoint p = PixelOfClass(t, from);
        if (from == kBackground) {
            for (int x = t.Image.Width() / 2; x < t.Image.Width(); ++x)
                if (t.Dirty[size_t(x + p.y() * t.Image.Width())] == kBackground) {
                    p = {x, p.y()};
                    break;
                }
        }
        QVERIFY(p.x() >= 0);
        const int32_t sp = Label(t, p);
        const double area = t.Area();
        const QImage thumb = Thumb(form, 0, 0);

        Press(*editor, Qt::LeftButton, p);
        Release(*editor, Qt::LeftButton, p);
        QCOMPARE(t.SPList[size_t(sp)].Kind, to);
        QVERIFY(t.SPList[size_t(sp)].Fixed);
        QVERIFY(t.Area() != area || to != kBackground);
        QCOMPARE(Stat(*editor, 0), TToothForm::StatText(t.Area()));
        const auto disk = OnDisk(t);
        QCOMPARE(disk->SPList[size_t(sp)].Kind, to);
        QVERIFY(disk->SPList[size_t(sp)].Fixed);
        QCOMPARE(disk->RArea, t.RArea);
        QTRY_VERIFY(Thumb(form, 0, 0) != thumb);
    }

    void FastStrokePaintsEverySuperpixelOnItsLine()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0}, 320, 240);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        editor->View()->SetZoom(2);
        TTooth& t = *editor->Tooth();
        Click(*editor, "Shape");
        Click(*editor, "Shape"); // red
        // Across the tooth in two moves: the pointer jumps over dozens of superpixels.
        const QPoint a(115, 85), b(150, 140), c(200, 150);
        Press(*editor, Qt::LeftButton, a);
        Move(*editor, b, Qt::LeftButton);
        Move(*editor, c, Qt::LeftButton);
        Release(*editor, Qt::LeftButton, c);

        std::set<int32_t> onLine;
        for (auto [from, to] : {std::pair{a, b}, std::pair{b, c}})
            for (int k = 0; k <= 400; ++k) {
                const QPointF q = QPointF(from) + (QPointF(to) - QPointF(from)) * (k / 400.0);
                onLine.insert(Label(t, {int(std::lround(q.x())), int(std::lround(q.y()))}));
            }
        QVERIFY(onLine.size() > 8);
        std::set<int32_t> fixed;
        for (size_t s = 0; s < t.SPList.size(); ++s)
            if (t.SPList[s].Fixed)
                fixed.insert(int32_t(s));
        QCOMPARE(fixed, onLine);
        for (int32_t s : onLine)
            QCOMPARE(OnDisk(t)->SPList[size_t(s)].Kind, int(kRed));
    }

    void UndoAndRedoStrokesAndThresholds()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        TTooth& t = *editor->Tooth();
        const TSPVector original = t.SPList;
        const double area = t.Area();
        const QPoint p = PixelOfClass(t, kGreen);
        Press(*editor, Qt::LeftButton, p);
        Move(*editor, p + QPoint(6, 4), Qt::LeftButton);
        Release(*editor, Qt::LeftButton, p + QPoint(6, 4));
        const TSPVector painted = t.SPList;
        QVERIFY(t.Area() < area);
        Control<QScrollBar>(*editor, "BGSlider")->setValue(37);

        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier); // the threshold
        QCOMPARE(t.BGThreshold, 0.5);
        QCOMPARE(Control<QScrollBar>(*editor, "BGSlider")->value(), 50);
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier); // the whole stroke in one step
        for (size_t s = 0; s < t.SPList.size(); ++s) {
            QCOMPARE(t.SPList[s].Kind, original[s].Kind);
            QCOMPARE(t.SPList[s].Fixed, original[s].Fixed);
        }
        QCOMPARE(t.Area(), area);
        QCOMPARE(OnDisk(t)->Area(), area);
        QVERIFY(!Control<QToolButton>(*editor, "UndoBtn")->isEnabled());

        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        for (size_t s = 0; s < t.SPList.size(); ++s)
            QCOMPARE(t.SPList[s].Fixed, painted[s].Fixed);
        QVERIFY(OnDisk(t)->Area() < area);
        Click(*editor, "RedoBtn");
        QCOMPARE(t.BGThreshold, 0.37);
        QVERIFY(!Control<QToolButton>(*editor, "RedoBtn")->isEnabled());
    }

    void ThresholdSlidersAndEditReclassify()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        TTooth& t = *editor->Tooth();
        const double red = t.RArea;
        Control<QScrollBar>(*editor, "BGSlider")->setValue(37);
        QCOMPARE(Control<QLineEdit>(*editor, "BGThreshold")->text(), Real("0.37"));
        QCOMPARE(t.BGThreshold, 0.37);
        QCOMPARE(OnDisk(t)->BGThreshold, 0.37);

        auto* bg = Control<QLineEdit>(*editor, "BGThreshold");
        bg->selectAll();
        QTest::keyClicks(bg, Real("0.25"));
        QCOMPARE(Control<QScrollBar>(*editor, "BGSlider")->value(), 25);
        QCOMPARE(t.BGThreshold, 0.25);

        Control<QScrollBar>(*editor, "RGSlider")->setValue(-60); // more superpixels count as stained
        QCOMPARE(Control<QLabel>(*editor, "RGThreshold")->text(), Real("-0.6"));
        QCOMPARE(t.RGThreshold, -0.6);
        QVERIFY(t.RArea > red);
        QCOMPARE(OnDisk(t)->RArea, t.RArea);
    }

    void RecalculateTakesAllThreeParametersOrNone_data()
    {
        QTest::addColumn<QString>("spNumber");
        QTest::addColumn<QString>("compactness");
        QTest::addColumn<bool>("segmented");
        QTest::newRow("abc") << "abc" << "20" << false;
        QTest::newRow("compactness x") << "100" << "x" << false;
        QTest::newRow("100") << "100" << "10" << true;
    }
    void RecalculateTakesAllThreeParametersOrNone()
    {
        QFETCH(QString, spNumber);
        QFETCH(QString, compactness);
        QFETCH(bool, segmented);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        TTooth& t = *editor->Tooth();
        const int32_t count = t.numlabels;
        Control<QLineEdit>(*editor, "SPNumber")->setText(spNumber);
        Control<QLineEdit>(*editor, "Compactness")->setText(compactness);
        auto* recalculate = Control<QPushButton>(*editor, "RecalculateBtn");
        QVERIFY(recalculate->isEnabled());
        Click(*editor, "RecalculateBtn");
        QVERIFY(!recalculate->isEnabled());
        QVERIFY(!form.ProblemsBox());
        QCOMPARE(t.SPnumber, segmented ? 100 : 400);
        QCOMPARE(t.Compactness, segmented ? 10.0 : 20.0);
        QCOMPARE(OnDisk(t)->SPnumber, t.SPnumber);
        QCOMPARE(t.numlabels != count, segmented);
    }

    void SetAsDefaultStoresTheNumbersOnly()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        const TTooth& t = *editor->Tooth();
        Control<QLineEdit>(*editor, "SPNumber")->setText("300");
        Control<QLineEdit>(*editor, "Compactness")->setText("x");
        Control<QScrollBar>(*editor, "BGSlider")->setValue(40);
        Control<QScrollBar>(*editor, "RGSlider")->setValue(-25);
        Click(*editor, "SetAsDefaultbtn");
        QCOMPARE(DefaultSPNumber.load(), 300);
        QCOMPARE(DefaultCompactness.load(), 20.0);
        QCOMPARE(DefaultBGThreshold.load(), 0.4);
        QCOMPARE(DefaultRGThreshold.load(), -0.25);
        const TDefaultIniFile& ini = SettingsFile();
        QCOMPARE(ini.ReadString(SettingsSection, "DefaultSPNumber", {}), QString("300"));
        QCOMPARE(ini.ReadString(SettingsSection, "DefaultCompactness", {}), QString("20"));
        QCOMPARE(ini.ReadString(SettingsSection, "DefaultRGThreshold", {}), Real("-0.25"));
        // The main window shows the new defaults; the photograph keeps its own parameters.
        QCOMPARE(Control<QLineEdit>(form, "SPNumber")->text(), QString("300"));
        QCOMPARE(t.SPnumber, 400);

        // "Set Default Params" puts them back into the editor without recalculating.
        Control<QLineEdit>(*editor, "SPNumber")->setText("123");
        Click(*editor, "DefaultPar");
        QCOMPARE(Control<QLineEdit>(*editor, "SPNumber")->text(), QString("300"));
        QCOMPARE(t.SPnumber, 400);
    }

    void TransformSlidersFollowTheirFormulas_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("field"); // index into TTransPars::P()
        QTest::addColumn<double>("value");
        QTest::newRow("ShiftxSlider 50") << "ShiftxSlider" << 50 << 1 << -100.0;
        QTest::newRow("ShiftySlider -20") << "ShiftySlider" << -20 << 2 << -30.0;
        QTest::newRow("ScaleXSlider 100") << "ScaleXSlider" << 100 << 3 << 0.5;
        QTest::newRow("ScaleYSlider -100") << "ScaleYSlider" << -100 << 4 << 0.5;
        QTest::newRow("AngleSlider -30") << "AngleSlider" << -30 << 0 << -30.0;
    }
    void TransformSlidersFollowTheirFormulas()
    {
        QFETCH(QString, slider);
        QFETCH(int, position);
        QFETCH(int, field);
        QFETCH(double, value);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0}, 400, 300);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        TTooth& t = *editor->Tooth();
        const QImage before = editor->View()->Image();
        Control<QScrollBar>(*editor, qPrintable(slider))->setValue(position);
        QCOMPARE(t.TransPars.P()[field], value);
        QVERIFY(!t.Done());
        QVERIFY(Control<QPushButton>(*editor, "RecalculateBtn")->isEnabled());
        QVERIFY(editor->View()->Image() != before);
        Click(*editor, "RecalculateBtn");
        QVERIFY(t.Done());
        QCOMPARE(OnDisk(t)->TransPars.P()[field], value);
    }

    void ShowingATransformRoundsAndClamps_data()
    {
        QTest::addColumn<double>("shiftx");
        QTest::addColumn<double>("scaley");
        QTest::addColumn<int>("shiftxPosition");
        QTest::addColumn<int>("scaleyPosition");
        QTest::newRow("beyond the range") << 300.0 << 3.0 << -100 << 100;
        QTest::newRow("ties to even") << -5.0 << 1.0125 << 2 << 2; // -round(-2.5), round(2.5)
    }
    void ShowingATransformRoundsAndClamps()
    {
        QFETCH(double, shiftx);
        QFETCH(double, scaley);
        QFETCH(int, shiftxPosition);
        QFETCH(int, scaleyPosition);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0}, 400, 300);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TTooth& t = *form.Study().GetTooth(0, 0);
        t.TransPars.Shiftx = shiftx;
        t.TransPars.Scaley = scaley;
        TToothForm* editor = DoubleClick(form, 0, 0);
        QCOMPARE(Control<QScrollBar>(*editor, "ShiftxSlider")->value(), shiftxPosition);
        QCOMPARE(Control<QScrollBar>(*editor, "ScaleYSlider")->value(), scaleyPosition);
        QCOMPARE(t.TransPars.Shiftx, shiftx);
        QCOMPARE(t.TransPars.Scaley, scaley);
    }

    // The editor holds its photograph's pixels while open; a transform moved by hand and not yet
    // recalculated exists only in memory, so it keeps them after the editor closes.
    void HandMovedTransformSurvivesClosingTheEditor()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0, 1}, 400, 300);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TTooth& t = *form.Study().GetTooth(0, 1);
        QVERIFY(!t.PixelsLoaded());
        TToothForm* editor = DoubleClick(form, 0, 1);
        QVERIFY(t.PixelsLoaded());
        Click(*editor, "RecalculateBtn");
        editor->close();
        QVERIFY2(!t.PixelsLoaded(), "saved and closed: the pixels go");

        editor = DoubleClick(form, 0, 1);
        Control<QScrollBar>(*editor, "ShiftxSlider")->setValue(50);
        editor->close();
        QVERIFY(t.PixelsLoaded());
        QCOMPARE(t.TransPars.Shiftx, -100.0);

        // Reopened, the editor segments the moved photograph, as for any photograph not calculated.
        editor = DoubleClick(form, 0, 1);
        QCOMPARE(Control<QScrollBar>(*editor, "ShiftxSlider")->value(), 50);
        QVERIFY(t.Done());
        editor->close();
        QVERIFY(!t.PixelsLoaded());
        QCOMPARE(OnDisk(t)->TransPars.Shiftx, -100.0);
    }

    void ResetAlignAndRealign()
    {
        const QString study = Study("s");
        WritePhotograph(study, "visit0", 11, 0, 240, 180);
        TTransPars turned = TTransPars::Identity();
        turned.Init(5, 6, -4, 1, 1, 1);
        WritePhotograph(study, "visit1", 11, 1, 240, 180, turned);
        WritePhotograph(study, "visit2", 11, 2, 240, 180, TTransPars::Identity(), 0); // black
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));

        // The first photograph: marked aligned, never fitted.
        TToothForm* first = DoubleClick(form, 0, 0);
        Click(*first, "Realignbtn");
        QVERIFY(first->Tooth()->NelmDone);
        QVERIFY(first->Tooth()->TransPars.IsIdentity());
        QCOMPARE(Stat(*first, TToothForm::QualityRow), QString(QChar(0x2014)));
        QVERIFY(!Control<QPushButton>(*first, "Compare")->isEnabled());

        TToothForm* later = DoubleClick(form, 0, 1);
        TTooth& t = *later->Tooth();
        const double unaligned = t.AlignmentQuality(*first->Tooth());
        Click(*later, "Nelmpars");
        QVERIFY(t.NelmDone && t.Done());
        QVERIFY(std::abs(t.TransPars.Angle() - 5) < 1);
        QCOMPARE(Control<QScrollBar>(*later, "AngleSlider")->value(), RoundEven(t.TransPars.Angle()));
        QVERIFY(t.AlignmentQuality(*first->Tooth()) > unaligned);
        QCOMPARE(Stat(*later, TToothForm::QualityRow),
                 QLocale::system().toString(t.AlignmentQuality(*first->Tooth()), 'f', 3));
        const TTransPars fit = t.TransPars;

        Click(*later, "ResetTransform");
        QVERIFY(t.TransPars.IsIdentity() && t.Done());
        QCOMPARE(Control<QScrollBar>(*later, "AngleSlider")->value(), 0);
        Click(*later, "Nelmpars"); // the last fit comes back without a new one
        QCOMPARE(t.TransPars.Angle(), fit.Angle());
        QCOMPARE(t.TransPars.Shiftx, fit.Shiftx);
        // Realign fits again from a transform moved by hand, and keeps the new fit.
        Control<QScrollBar>(*later, "AngleSlider")->setValue(1);
        Click(*later, "Realignbtn");
        QVERIFY(std::abs(t.TransPars.Angle() - 5) < 1);
        QCOMPARE(t.NELMPars.Angle(), t.TransPars.Angle());
        QVERIFY(t.NelmDone && t.Done());

        // Compare shows the first photograph over this one.
        const QImage plain = later->View()->Image();
        Click(*later, "Compare");
        QVERIFY(later->View()->Image() != plain);
        Click(*later, "Compare");
        QCOMPARE(later->View()->Image(), plain);

        // A photograph black in its centre cannot be aligned: a message, and nothing changes.
        TToothForm* black = DoubleClick(form, 0, 2);
        TTooth& b = *black->Tooth();
        Click(*black, "Nelmpars");
        QTRY_VERIFY(black->findChild<QMessageBox*>("ProblemsBox"));
        QVERIFY(black->findChild<QMessageBox*>("ProblemsBox")->isVisible());
        QVERIFY(b.TransPars.IsIdentity());
        QVERIFY(!b.NelmDone);
    }

    void MaskGoesToTheOtherTimePoints_data()
    {
        QTest::addColumn<bool>("thisImageOnly");
        QTest::newRow("whole tooth") << false;
        QTest::newRow("this image only") << true;
    }
    void MaskGoesToTheOtherTimePoints()
    {
        QFETCH(bool, thisImageOnly);
        const QString study = Study("s");
        WriteStudy(study, {11}, {0, 1, 2});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* other = DoubleClick(form, 0, 2);
        TToothForm* editor = DoubleClick(form, 0, 1);
        TTooth &t0 = *form.Study().GetTooth(0, 0), &t1 = *editor->Tooth(), &t2 = *other->Tooth();
        const QImage otherBefore = other->View()->Image();
        if (thisImageOnly)
            Click(*editor, "ThisImage");
        Click(*editor, "SetMask");
        QVERIFY(!t1.Mask.empty());
        QCOMPARE(OnDisk(t1)->Mask, t1.Mask);
        QCOMPARE(t0.Mask.empty(), thisImageOnly);
        QCOMPARE(t2.Mask.empty(), thisImageOnly);
        if (thisImageOnly) {
            QTest::qWait(50);
            QCOMPARE(other->View()->Image(), otherBefore);
            return;
        }
        // t0 is not segmented: the mask waits in memory for its segmentation.
        QVERIFY(!t0.Done() && !QFile::exists(t0.StatFileName()));
        QCOMPARE(OnDisk(t2)->Mask, t2.Mask);
        // The other editor hears of it through the event loop and shows the mask's outline.
        QTRY_VERIFY(other->View()->Image() != otherBefore);
        bool magenta = false;
        const QImage shown = other->View()->Image();
        for (int y = 0; y < shown.height() && !magenta; ++y)
            for (int x = 0; x < shown.width() && !magenta; ++x)
                magenta = shown.pixel(x, y) == 0xFFFF00FF;
        QVERIFY(magenta);

        // "Disable Mask" switches it off for this photograph only, and undo switches it back.
        Click(*editor, "DisableMask");
        QVERIFY(t1.DisableMask && OnDisk(t1)->DisableMask);
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!t1.DisableMask);
        QVERIFY(!Control<QCheckBox>(*editor, "DisableMask")->isChecked());
    }

    void ArrowsWalkTheTable()
    {
        const QString study = Study("s");
        WritePhotograph(study, "visit0", 11, 0);
        WritePhotograph(study, "visit5", 11, 5);
        WritePhotograph(study, "visit0", 12, 0);
        WritePhotograph(study, "visit1", 12, 1);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TTooth* t11at5 = form.Study().GetTooth(0, 5);
        TToothForm* target = DoubleClick(form, 0, 5);
        TToothForm* editor = DoubleClick(form, 0, 0);
        QVERIFY(target && editor && target != editor);
        QVERIFY(!Control<QToolButton>(*editor, "BUp")->isEnabled());
        QVERIFY(!Control<QToolButton>(*editor, "BLeft")->isEnabled());
        QVERIFY(Control<QToolButton>(*editor, "BRight")->isEnabled());
        // Time points 0 and 5 only: down still reaches 5.
        QVERIFY(Control<QToolButton>(*editor, "BDown")->isEnabled());

        QPointer<TToothForm> closed = target;
        QTest::keyClick(editor, Qt::Key_Down, Qt::AltModifier); // the button's animated click
        QTRY_COMPARE(editor->Tooth(), t11at5);
        QVERIFY(closed.isNull()); // the other editor on that photograph gave way
        QCOMPARE(form.FindToothForm(t11at5), editor);
        QVERIFY(editor->windowTitle().endsWith("Time=5"));
        QVERIFY(!Control<QToolButton>(*editor, "BDown")->isEnabled());
        QVERIFY(!Control<QToolButton>(*editor, "BRight")->isEnabled()); // tooth 12 has no time 5

        Click(*editor, "BUp");
        QCOMPARE(editor->Tooth(), form.Study().GetTooth(0, 0));
        Click(*editor, "BRight");
        QCOMPARE(editor->Tooth(), form.Study().GetTooth(1, 0));
        QVERIFY(editor->Tooth()->Done()); // shown for the first time: segmented
        QTest::keyClick(editor, Qt::Key_Down, Qt::AltModifier);
        QTRY_COMPARE(editor->Tooth(), form.Study().GetTooth(1, 1));
        QVERIFY(!Control<QToolButton>(*editor, "BLeft")->isEnabled()); // tooth 11 has no time 1
        QTest::keyClick(editor, Qt::Key_Left, Qt::AltModifier);
        QTest::qWait(200);
        QCOMPARE(editor->Tooth(), form.Study().GetTooth(1, 1));
    }

    void BatchAndFolderChangeCloseEditors()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0, 1}, 320, 240);
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        QPointer<TToothForm> editor = DoubleClick(form, 0, 0);
        QVERIFY(editor);
        Click(form, "CalcAllBtn");
        QVERIFY(editor.isNull());
        QVERIFY(form.Study().Running());
        QVERIFY(!DoubleClick(form, 1, 1)); // held back while the run goes on
        QVERIFY(QTest::qWaitFor([&] { return !form.Busy(); }, 60000));
        editor = DoubleClick(form, 1, 1);
        QVERIFY(editor);
        QVERIFY(ShowAndOpen(form, study));
        QVERIFY(editor.isNull());
    }

    void RightButtonShowsTheChosenView()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TForm1 form;
        QVERIFY(ShowAndOpen(form, study));
        TToothForm* editor = DoubleClick(form, 0, 0);
        const TTooth& t = *editor->Tooth();
        const QImage normal = editor->View()->Image();
        for (QRadioButton* item : editor->findChildren<QRadioButton*>())
            if (item->text() == "Red Channel")
                QTest::mouseClick(item, Qt::LeftButton);
        const QPoint p = PixelOfClass(t, kGreen);
        Press(*editor, Qt::RightButton, p);
        const QImage shown = editor->View()->Image();
        int32_t checked = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb c = shown.pixel(x, y);
                if (c == 0xFFFFFFFF)
                    continue; // a superpixel boundary
                const TSuperPixel& s = t.SPList[size_t(Label(t, {x, y}))];
                QCOMPARE(c & 0xFFFFFF, QRgb(s.Red) << 16);
                ++checked;
            }
        QVERIFY(checked > shown.width() * shown.height() / 2);
        Release(*editor, Qt::RightButton, p);
        QCOMPARE(editor->View()->Image(), normal);
    }

    void StatTextKeepsTheExponent_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.5e-05") << 1.5e-05 << "1.5E-5";
        QTest::newRow("long mantissa") << 1.23456789e-05 << "1.23E-5";
        QTest::newRow("12.5") << 12.5 << "12.5";
        QTest::newRow("one third") << 1.0 / 3 << "0.33333";
        QTest::newRow("100") << 100.0 << "100";
        QTest::newRow("six digits and a fraction") << 786431.75 << "786431";
        QTest::newRow("eight digits") << 72000000.0 << "7.2E+7";
    }
    void StatTextKeepsTheExponent()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(TToothForm::StatText(value), Real(text));
    }
};

ORVIX_WINDOW_TEST_MAIN(ToothFormTest)

#include "ToothFormTest.moc"
