// The main window as a user drives it: offscreen, through its widgets, with studies on disk.
#include "Nomenclature.h"
#include "StudyFixture.h"
#include "TChartView.h"
#include "TForm1.h"
#include "WindowTestSupport.h"
#include "TOverviewModel.h"
#include "TStatusPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QValueAxis>
#include <QDirIterator>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

namespace {

QStringList Header(const TOverviewModel& model, Qt::Orientation o)
{
    QStringList names;
    const int n = o == Qt::Horizontal ? model.columnCount() : model.rowCount();
    for (int i = 0; i < n; ++i)
        names << model.headerData(i, o, Qt::DisplayRole).toString();
    return names;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TFreshUser> fUser;
    QString Study(const QString& name) const { return fUser->Path(name); }

private slots:
    void init() { fUser = std::make_unique<TFreshUser>(); }
    void cleanup() { fUser.reset(); }

    void FirstStartShowsDefaultsAndLoadsNothing()
    {
        TForm1 form;
        form.show();
        QTest::qWait(200);
        QCOMPARE(Control<QLineEdit>(form, "SPNumber")->text(), QString("400"));
        QCOMPARE(Control<QLineEdit>(form, "Compactness")->text(), QString("20"));
        QCOMPARE(Control<QLineEdit>(form, "BGThreshold")->text(), QLocale::system().toString(0.5));
        QCOMPARE(Control<QLineEdit>(form, "RGThreshold")->text(), QString("0"));
        QCOMPARE(form.size(), QSize(1128, 747));
        QCOMPARE(form.windowTitle(), QString("Orvix"));
        QCOMPARE(form.Study().Count(), 0);
        QCOMPARE(form.OverviewModel()->rowCount(), 4);
        QCOMPARE(Setting("LastDir"), QString("<missing>"));
        // Showing the defaults stored them, so the file now holds what the user saw.
        QCOMPARE(Setting("DefaultSPNumber"), QString("400"));
    }

    void LoadsStudyIntoTableAndToothList_data()
    {
        QTest::addColumn<bool>("cat");
        QTest::newRow("dog") << false;
        QTest::newRow("cat") << true;
    }
    void LoadsStudyIntoTableAndToothList()
    {
        QFETCH(bool, cat);
        const QString study = Study("s");
        WriteStudy(study, {11, 12, 21}, {0, 1, 2});
        QFile::remove(QDir(study).filePath("visit1/P12001.bmp")); // an empty cell
        if (cat)
            QFile(QDir(study).filePath("feline")).open(QIODevice::WriteOnly);
        TForm1 form;
        QVERIFY(Open(form, study));
        const TOverviewModel& model = *form.OverviewModel();
        QCOMPARE(model.columnCount(), 3);
        QCOMPARE(Header(model, Qt::Vertical), (QStringList{"0", "1", "2"}));
        QStringList expected;
        for (int id : {11, 12, 21})
            expected << ToothName(!cat, id);
        QCOMPARE(Header(model, Qt::Horizontal), expected);
        auto* list = Control<QListWidget>(form, "toothlist");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(2)->text(), expected[2]);
        QVERIFY(model.ToothAt(model.index(1, 1)) == nullptr);
        QVERIFY(!model.data(model.index(1, 0), TOverviewModel::ThumbRole).value<QImage>().isNull());
        QCOMPARE(Setting("LastDir"), study);
    }

    void RowsStartAtTimePointZero()
    {
        const QString study = Study("late");
        WriteStudy(study, {11}, {2, 3});
        TForm1 form;
        QVERIFY(Open(form, study));
        QCOMPARE(form.OverviewModel()->rowCount(), 4);
        QVERIFY(form.OverviewModel()->ToothAt(form.OverviewModel()->index(3, 0)) != nullptr);
    }

    // While a study is taken in, photographs appear as they are read: a column per tooth number in
    // order, rows up to the latest time point, the first photograph of a cell kept; the study
    // itself replaces them.
    void TableFillsAsPhotographsAreRead()
    {
        TOverviewModel model;
        auto thumb = [](QRgb colour) {
            QImage image(8, 6, QImage::Format_RGB32);
            image.fill(colour);
            return TThumb{image, {80, 60}, {}, std::numeric_limits<double>::quiet_NaN()};
        };
        model.AddLoading(21, 1, thumb(0xff0000));
        model.AddLoading(11, 0, thumb(0x00ff00));
        model.AddLoading(21, 1, thumb(0x0000ff)); // a second photograph of the cell
        model.AddLoading(31, 2, thumb(0xffffff));
        QCOMPARE(model.columnCount(), 3);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("11"));
        QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("21"));
        const auto colour = [&](int row, int column) {
            const QImage image = model.data(model.index(row, column), TOverviewModel::ThumbRole).value<QImage>();
            return image.isNull() ? QRgb(0) : image.pixel(0, 0) & 0xffffff;
        };
        QCOMPARE(colour(1, 1), QRgb(0xff0000));
        QCOMPARE(colour(0, 0), QRgb(0x00ff00));
        QCOMPARE(colour(2, 2), QRgb(0xffffff));
        QCOMPARE(colour(0, 1), QRgb(0));
        QVERIFY(model.ToothAt(model.index(1, 1)) == nullptr);

        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        TTeeth teeth(1);
        teeth.LoadFolder(study);
        model.SetStudy(&teeth, {});
        QCOMPARE(model.columnCount(), 1);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(colour(0, 0), QRgb(0));
    }

    void SpeciesToggleRenamesAndKeepsCheckMarks()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0});
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        auto* list = Control<QListWidget>(form, "toothlist");
        list->item(1)->setCheckState(Qt::Checked);
        QSignalSpy renamed(&form, &TForm1::ToothRenamed);
        const QString feline = QDir(study).filePath("feline");

        Click(form, "Animal");
        QVERIFY(QFile::exists(feline));
        QCOMPARE(list->item(1)->text(), ToothName(false, 21));
        QCOMPARE(form.OverviewModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
                 ToothName(false, 21));
        QCOMPARE(list->item(1)->checkState(), Qt::Checked);
        QCOMPARE(list->item(0)->checkState(), Qt::Unchecked);
        Click(form, "Animal");
        QVERIFY(!QFile::exists(feline));
        QCOMPARE(list->item(1)->text(), ToothName(true, 21));
        QCOMPARE(renamed.count(), 2);

        // A study with more teeth keeps the marks of the positions both have.
        const QString bigger = Study("b");
        WriteStudy(bigger, {11, 21, 31}, {0});
        QVERIFY(Open(form, bigger));
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(1)->checkState(), Qt::Checked);
        QCOMPARE(list->item(2)->checkState(), Qt::Unchecked);
    }

    void ParameterEditsStoreOnlyNumbers()
    {
        TForm1 form;
        auto* sp = Control<QLineEdit>(form, "SPNumber");
        sp->clear();
        QTest::keyClicks(sp, "12a");
        QCOMPARE(DefaultSPNumber.load(), 12); // "12" on the way
        QCOMPARE(Setting("DefaultSPNumber"), QString("12"));
        sp->clear();
        QTest::keyClicks(sp, "150");
        QCOMPARE(DefaultSPNumber.load(), 150);
        QCOMPARE(Setting("DefaultSPNumber"), QString("150"));
        sp->setText("150x");
        QCOMPARE(DefaultSPNumber.load(), 150);

        auto* bg = Control<QLineEdit>(form, "BGThreshold");
        bg->setText(QLocale::system().toString(0.25));
        QCOMPARE(DefaultBGThreshold.load(), 0.25);
        bg->setText("abc");
        QCOMPARE(DefaultBGThreshold.load(), 0.25);
        QCOMPARE(Setting("DefaultBGThreshold"), QLocale::system().toString(0.25));

        // Out of range is passed over like text that is not a number, without a message box.
        bg->setText("7");
        sp->setText("0");
        Control<QLineEdit>(form, "Compactness")->setText("0");
        QCOMPARE(DefaultBGThreshold.load(), 0.25);
        QCOMPARE(DefaultSPNumber.load(), 150);
        QCOMPARE(Setting("DefaultBGThreshold"), QLocale::system().toString(0.25));
        QVERIFY(!form.findChild<QMessageBox*>("ProblemsBox"));
    }

    void CellSizeSetsThumbnailCells_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("height");
        QTest::newRow("32") << 32 << 24;
        QTest::newRow("256") << 256 << 192;
        QTest::newRow("512") << 512 << 384;
    }
    void CellSizeSetsThumbnailCells()
    {
        QFETCH(int, position);
        QFETCH(int, height);
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0, 1});
        TForm1 form;
        QVERIFY(Open(form, study));
        Control<QScrollBar>(form, "CellSize")->setValue(position);
        auto* table = Control<QTableView>(form, "Table");
        QCOMPARE(table->columnWidth(1), position);
        QCOMPARE(table->rowHeight(1), height);
        QCOMPARE(table->verticalHeader()->width(), 32);
        QCOMPARE(table->horizontalHeader()->height(), 24);
    }

    void IamSureEnablesTheAllButtons()
    {
        TForm1 form;
        form.show();
        auto* all = Control<QPushButton>(form, "RecalculateALL");
        auto* realign = Control<QPushButton>(form, "Realign");
        QVERIFY(!all->isEnabled() && !realign->isEnabled());
        Click(form, "iamsure");
        QVERIFY(all->isEnabled() && realign->isEnabled());
        Click(form, "iamsure");
        QVERIFY(!all->isEnabled() && !realign->isEnabled());
    }

    void BatchRefreshesCellsAndHoldsCommandsBack()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 12, 21}, {0, 1}, 320, 240);
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        const TOverviewModel& model = *form.OverviewModel();
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        const QImage before = model.data(model.index(0, 0), TOverviewModel::ThumbRole).value<QImage>();

        Click(form, "CalcAllBtn");
        QVERIFY(form.Study().Running());
        for (const char* name : {"DirView", "CalcAllBtn", "AlignBtn", "Animal"})
            QVERIFY2(!Control<QWidget>(form, name)->isEnabled(), name);
        QVERIFY(Control<QWidget>(form, "StopBTN")->isEnabled());
        QVERIFY(Control<QWidget>(form, "SPNumber")->isEnabled());
        Click(form, "AlignBtn"); // held back: no second run
        QVERIFY(WaitIdle(form));

        QCOMPARE(changed.count(), 6); // one refresh per photograph, cell by cell
        for (const QList<QVariant>& args : changed)
            QCOMPARE(args.at(0).toModelIndex(), args.at(1).toModelIndex());
        QVERIFY(model.data(model.index(0, 0), TOverviewModel::ThumbRole).value<QImage>() != before);
        QCOMPARE(form.findChild<TStatusPanel*>("StatusBar")->Progress(), 1.0);
        for (const char* name : {"DirView", "CalcAllBtn", "AlignBtn", "Animal"})
            QVERIFY2(Control<QWidget>(form, name)->isEnabled(), name);
        QVERIFY(!Control<QWidget>(form, "RecalculateALL")->isEnabled());
        for (const auto& series : form.Study())
            for (const auto& tooth : *series)
                QVERIFY(tooth->Done() && QFile::exists(tooth->StatFileName()));

        // Nothing left to do: nothing starts and the bar says so.
        Click(form, "CalcAllBtn");
        QVERIFY(!form.Study().Running());
        QCOMPARE(form.findChild<TStatusPanel*>("StatusBar")->Progress(), 0.0);
    }

    void StopEndsLoadingAndRun()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 12, 13, 14, 21, 22, 23, 24}, {0, 1, 2, 3, 4}, 640, 480);
        TForm1 form;
        form.OpenFolder(study);
        Click(form, "StopBTN");
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Study().PhotographCount() < 40);
        QVERIFY(form.findChild<TStatusPanel*>("StatusBar")->Note().startsWith("Loading stopped"));

        QVERIFY(Open(form, study));
        QCOMPARE(form.Study().PhotographCount(), 40);
        Click(form, "CalcAllBtn");
        Click(form, "StopBTN");
        QVERIFY(WaitIdle(form));
        int done = 0;
        for (const auto& series : form.Study())
            for (const auto& tooth : *series)
                done += tooth->Done();
        QVERIFY(done < 40);
        QCOMPARE(form.findChild<TStatusPanel*>("StatusBar")->Note(),
                 QString("Stopped: %1 of 40 photographs done").arg(form.Study().CalcCount.load()));
    }

    void ClosingDuringRunLeavesNoHalfWrittenFile()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 12, 21, 22}, {0, 1, 2, 3}, 640, 480);
        {
            TForm1 form;
            form.show();
            QVERIFY(Open(form, study));
            Click(form, "CalcAllBtn");
            form.close();
        }
        // Every result file that exists is whole: a fresh load takes it.
        QDirIterator it(study, {"*.sp"}, QDir::Files, QDirIterator::Subdirectories);
        int files = 0;
        while (it.hasNext()) {
            const QString sp = it.next();
            ++files;
            QString bmp = sp;
            bmp.replace(".sp", ".bmp");
            TTooth t(bmp, 0);
            QVERIFY2(t.Done(), qPrintable(sp));
        }
        QVERIFY(files < 16);
    }

    void FailuresAndDoubtfulAlignmentsAreShown()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0});
        // Tooth 11 at time 1: the same scene turned; tooth 21 at time 1: black in its centre.
        TTransPars turned = TTransPars::Identity();
        turned.SetAngle(4);
        WritePhotograph(study, "visit1", 11, 1, 160, 120, turned);
        WritePhotograph(study, "visit1", 21, 1, 160, 120, TTransPars::Identity(), 0);
        // Tooth 12: another tooth's scene at time 1, a fit that cannot be right.
        WritePhotograph(study, "visit0", 12, 0);
        QImage other(QDir(study).filePath("visit0/P11000.bmp"));
        other.mirrored(true, true).save(QDir(study).filePath("visit1/P12001.bmp"), "BMP");
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        Click(form, "AlignBtn");
        QVERIFY(WaitIdle(form));

        const TOverviewModel& model = *form.OverviewModel();
        const QModelIndex black = model.index(1, 2), good = model.index(1, 0), wrong = model.index(1, 1);
        QVERIFY(model.data(black, TOverviewModel::FailureRole).toString().contains("black"));
        QVERIFY(model.data(black, Qt::ToolTipRole).toString().contains("black"));
        QVERIFY(model.data(good, TOverviewModel::FailureRole).toString().isEmpty());
        QVERIFY(!model.data(good, TOverviewModel::DoubtfulRole).toBool());
        QVERIFY(model.data(wrong, TOverviewModel::DoubtfulRole).toBool());
        QVERIFY(model.data(wrong, Qt::ToolTipRole).toString().contains("check the alignment"));
        QVERIFY(form.ProblemsBox() && form.ProblemsBox()->isVisible());
        QVERIFY(form.ProblemsBox()->informativeText().contains("P21001.bmp"));
    }

    void UnreadablePhotographIsListedAfterLoading()
    {
        const QString study = Study("s");
        WriteStudy(study, {11, 21}, {0, 1});
        QFile bad(QDir(study).filePath("visit1/P31001.bmp"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a bitmap");
        bad.close();
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        QCOMPARE(form.Study().PhotographCount(), 4);
        QVERIFY(form.ProblemsBox() && form.ProblemsBox()->isVisible());
        QVERIFY(form.ProblemsBox()->informativeText().contains("P31001.bmp"));
        QCOMPARE(form.OverviewModel()->columnCount(), 2);
    }

    // Backup copies were taken as the photograph of their tooth and time point without a word.
    void BackupCopiesAreListedAfterLoading()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        QVERIFY(QFile::copy(QDir(study).filePath("visit0/P11000.bmp"), QDir(study).filePath("visit0/P11000_old.bmp")));
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        QVERIFY(form.ProblemsBox() && form.ProblemsBox()->isVisible());
        QVERIFY(form.ProblemsBox()->informativeText().contains("tooth 11 at time point 0 has 2 photographs"));
    }

    void GeometryAndLastDirComeBack()
    {
        const QString study = Study("s");
        WriteStudy(study, {11}, {0});
        {
            TForm1 form;
            form.show();
            QVERIFY(Open(form, study));
            form.setGeometry(40, 50, 1000, 700);
            Control<QSplitter>(form, "Splitter1")->setSizes({300, 700});
            form.close();
        }
        QCOMPARE(Setting("Width"), QString("1000"));
        QCOMPARE(Setting("Splitter1"), QString("300"));
        TForm1 again;
        again.show();
        QVERIFY(QTest::qWaitFor([&] { return again.Study().Count() == 1 && !again.Busy(); }, 30000));
        QCOMPARE(again.size(), QSize(1000, 700));
        QCOMPARE(Control<QSplitter>(again, "Splitter1")->sizes().value(0), 300);
        QCOMPARE(again.Study().path, study);
        QCOMPARE(Control<QTreeView>(again, "DirView")->currentIndex().data().toString(), QString("s"));
    }

    void StudyOnTheCommandLineWinsOverLastDir()
    {
        const QString first = Study("a"), second = Study("b");
        WriteStudy(first, {11}, {0});
        WriteStudy(second, {11, 21}, {0});
        SettingsFile().WriteString(SettingsSection, "LastDir", first);
        TForm1 form(second);
        form.show();
        QVERIFY(QTest::qWaitFor([&] { return form.Study().Count() == 2 && !form.Busy(); }, 30000));
        QCOMPARE(Setting("LastDir"), second);
    }

    void ChartFollowsCheckedTeethMeasurementAndAverage()
    {
        const QString study = Study("chart");
        WriteStudy(study, {11, 21, 31}, {0, 1, 2});
        QFile::remove(QDir(study).filePath("visit1/P21001.bmp"));
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        TChartView& chart = *form.ChartView();
        QCOMPARE(chart.chart()->title(), QString()); // no placeholder title before the first rebuild
        Click(form, "CalcAllBtn");
        QVERIFY(WaitIdle(form));
        QCOMPARE(chart.chart()->title(), QString("chart"));
        QVERIFY(chart.Lines().empty());

        auto* list = Control<QListWidget>(form, "toothlist");
        list->item(0)->setCheckState(Qt::Checked);
        list->item(1)->setCheckState(Qt::Checked);
        Control<QComboBox>(form, "ParamBox")->setCurrentText("Red Area");
        QCOMPARE(chart.AxisY()->titleText(), QString("Red Area"));
        QCOMPARE(chart.AxisX()->titleText(), QString("Time Point"));
        const auto lines = chart.Lines();
        QCOMPARE(int(lines.size()), 2);
        QCOMPARE(lines[1].Title, list->item(1)->text());
        const TToothInTime& second = *form.Study()[1];
        QCOMPARE(int(lines[1].Points.size()), 2); // no photograph at time point 1
        QCOMPARE(lines[1].Points[1].X, 2.0);
        QCOMPARE(lines[1].Points[1].Y, second[1]->GetParam(1));
        QCOMPARE(chart.AxisY()->min(), 0.0);

        Click(form, "Average");
        QCOMPARE(int(chart.Lines().size()), 1);
        QCOMPARE(chart.Lines()[0].Title, QString("Average"));
        QCOMPARE(int(chart.Lines()[0].Points.size()), 3);
        Click(form, "Average");

        Click(form, "CheckALL");
        QCOMPARE(int(chart.Lines().size()), 3);
        Click(form, "CheckALL");
        QVERIFY(chart.Lines().empty());
        QCOMPARE(list->item(0)->checkState(), Qt::Unchecked);
    }

    void ChartOptionsSurviveRebuildsUntilTheStudyChanges()
    {
        const QString study = Study("opts");
        WriteStudy(study, {11}, {0, 1});
        TForm1 form;
        form.show();
        QVERIFY(Open(form, study));
        TChartView& chart = *form.ChartView();
        Click(form, "CheckALL");
        TChartOptions o;
        o.Title = "Plaque";
        o.YRange = QPointF(0, 50);
        o.MarkerSize = 12;
        chart.SetOptions(o);
        Control<QComboBox>(form, "ParamBox")->setCurrentText("Red %");
        QCOMPARE(chart.chart()->title(), QString("Plaque"));
        QCOMPARE(chart.AxisY()->max(), 50.0);
        QCOMPARE(chart.AxisY()->titleText(), QString("Red %")); // untouched titles follow the data
        const QString png = Study("chart.png"), svg = Study("chart.svg");
        QVERIFY(chart.SaveImage(png) && chart.SaveImage(svg));
        QCOMPARE(QImage(png).size(), chart.size());
        QVERIFY(QFileInfo(svg).size() > 1000);

        QVERIFY(Open(form, study));
        Click(form, "Average");
        QCOMPARE(chart.chart()->title(), QString("opts"));
    }

    void RightClickInTheTreeOpensTheFolderUnderTheMouse()
    {
        const QString first = Study("a"), second = Study("b");
        WriteStudy(first, {11}, {0});
        WriteStudy(second, {11, 21}, {0});
        TForm1 form;
        form.show();
        QVERIFY(Open(form, first));
        auto* tree = Control<QTreeView>(form, "DirView");
        auto* files = qobject_cast<QFileSystemModel*>(tree->model());
        QModelIndex target;
        QVERIFY(QTest::qWaitFor([&] {
            target = files->index(second);
            return target.isValid() && !tree->visualRect(target).isEmpty();
        }));
        tree->scrollTo(target);
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualRect(target).center());
        QVERIFY(WaitIdle(form));
        QCOMPARE(form.Study().path, second);
        QCOMPARE(form.Study().Count(), 2);
    }

    void StatusBarLimeShare()
    {
        QCOMPARE(TStatusPanel::LimeWidth(400, 0.5), 200);
        QCOMPARE(TStatusPanel::LimeWidth(5, 0.5), 2);
        QCOMPARE(TStatusPanel::LimeWidth(7, 0.5), 4);
    }
};

ORVIX_WINDOW_TEST_MAIN(MainWindowTest)

#include "MainWindowTest.moc"
