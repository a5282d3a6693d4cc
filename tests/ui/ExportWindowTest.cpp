// "Export" in the main window: the blocks and the "Parameters" sheet on disk as a spreadsheet
// reader sees them, appending, starting again, files held open by a spreadsheet program, and
// failures.
#include "Export.h"
#include "OpenpyxlReader.h"
#include "StudyFixture.h"
#include "TStatusPanel.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>

class ExportWindowTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TFreshUser> fUser;
    std::unique_ptr<TForm1> fForm;
    QStringList fAsked;     // the files the export dialog suggested
    QString fAnswer;        // what the user picks there
    int fOpenElsewhere = 0; // questions about a file held open elsewhere
    QStringList fOpened;

    // A calculated study of teeth 11 and 21 at time points 0 to 2, tooth 21 missing time point 1.
    void OpenStudy()
    {
        const QString study = fUser->Path("two");
        WriteStudy(study, {11, 21}, {0, 1, 2});
        QFile::remove(QDir(study).filePath("visit1/P21001.bmp"));
        QVERIFY(Open(*fForm, study));
        Click(*fForm, "CalcAllBtn");
        QVERIFY(WaitIdle(*fForm));
    }
    QString Note() const { return fForm->findChild<TStatusPanel*>("StatusBar")->Note(); }
    static QVariant Cell(const TOpenpyxlBook& book, int row, int column)
    {
        for (const TCell& c : book.Cells)
            if (c.Row == row && c.Column == column)
                return std::holds_alternative<QString>(c.Value) ? QVariant(std::get<QString>(c.Value))
                                                                 : QVariant(std::get<double>(c.Value));
        return {};
    }

private slots:
    void init()
    {
        fUser = std::make_unique<TFreshUser>();
        fForm = std::make_unique<TForm1>();
        fForm->show();
        fAsked.clear();
        fAnswer = fUser->Path("out.xlsx");
        fOpenElsewhere = 0;
        fOpened.clear();
        fForm->AskExportFile = [this](const QString& suggested) {
            fAsked << suggested;
            return fAnswer;
        };
        fForm->AskOpenElsewhere = [this](const QString&) {
            ++fOpenElsewhere;
            return false;
        };
        fForm->OpenDocument = [this](const QString& file) {
            fOpened << file;
            return true;
        };
    }
    void cleanup()
    {
        fForm.reset();
        fUser.reset();
    }

    void BlocksLandWhereTheSpreadsheetExpectsThem()
    {
        OpenStudy();
        Click(*fForm, "ExportBtn");
        QCOMPARE(fAsked, QStringList{QDir::home().filePath("two.xlsx")});
        QCOMPARE(fOpened, QStringList{fAnswer});
        QVERIFY(Note().contains("from row 1"));
        Click(*fForm, "ExportBtn"); // appended below, without asking again
        QCOMPARE(fAsked.size(), 1);
        QVERIFY(Note().contains("from row 7"));

        TOpenpyxlBook book;
        QString error;
        QVERIFY2(ReadWithOpenpyxl(fAnswer, book, error), qPrintable(error));
        QVERIFY(book.Generator);
        auto cell = [&](int row, int column) -> QVariant {
            for (const TCell& c : book.Cells)
                if (c.Row == row && c.Column == column)
                    return std::holds_alternative<QString>(c.Value) ? QVariant(std::get<QString>(c.Value))
                                                                     : QVariant(std::get<double>(c.Value));
            return {};
        };
        const TTeeth& study = fForm->Study();
        for (int block : {0, 6}) {
            QCOMPARE(cell(block + 1, 1).toString(), QString("two"));
            QCOMPARE(cell(block + 2, 1).toString(), QString("Time"));
            for (int t = 0; t < 2; ++t)
                for (int p = 0; p < 5; ++p) {
                    const int column = 5 * t + p + 2;
                    QCOMPARE(cell(block + 2, column).toString(), study[t]->Name());
                    QCOMPARE(cell(block + 3, column).toString(), QString(MeasurementNames[size_t(p)]));
                    for (int u = 0; u < 3; ++u) {
                        const TTooth* photo = study[t]->GetToothAt(u);
                        const QVariant v = cell(block + 4 + u, column);
                        if (photo)
                            QCOMPARE(v.toDouble(), photo->GetParam(p));
                        else
                            QVERIFY2(!v.isValid(), "no photograph, no value");
                    }
                }
            for (int u = 0; u < 3; ++u)
                QCOMPARE(cell(block + 4 + u, 1).toDouble(), double(u));
        }
        QCOMPARE(Setting("LastExportDir"), fUser->Path(""));
    }

    // A workbook from before the "Parameters" sheet, then two exports of the aligned study: each
    // export's photographs go below the rows of the one before, under a single header.
    void ParametersOfEachExportGoBelowTheEarlierOnes()
    {
        OpenStudy();
        Click(*fForm, "AlignBtn");
        QVERIFY(WaitIdle(*fForm));
        const TTeeth& study = fForm->Study();
        TCells older;
        BuildExportBlock(study, 1, older);
        WriteExportFile(fAnswer, TExportFormat::Xlsx, older);
        Click(*fForm, "ExportBtn");
        QVERIFY(Note().contains("from row 7"));
        Click(*fForm, "ExportBtn");
        QVERIFY(Note().contains("from row 13"));

        TOpenpyxlBook book;
        QString error;
        QVERIFY2(ReadWithOpenpyxl(fAnswer, book, error), qPrintable(error));
        for (int block : {1, 7, 13})
            QCOMPARE(Cell(book, block, 1).toString(), QString("two"));
        QVERIFY2(ReadWithOpenpyxl(fAnswer, book, error, "Parameters"), qPrintable(error));
        QCOMPARE(book.SheetNames, QStringList({"Orvix", "Parameters"}));
        for (int c = 0; c < int(ParameterNames.size()); ++c)
            QCOMPARE(Cell(book, 1, c + 1).toString(), QString(ParameterNames[size_t(c)]));
        // The photographs in the sheet's order: teeth, then time points.
        std::vector<const TTooth*> photos;
        for (int t = 0; t < 2; ++t)
            for (int u = 0; u < 3; ++u)
                if (const TTooth* photo = study[t]->GetToothAt(u))
                    photos.push_back(photo);
        int row = 2;
        for (int block : {7, 13})
            for (const TTooth* photo : photos) {
                auto at = [&](int column) { return Cell(book, row, column); };
                const int u = photo->TimePoint;
                QCOMPARE(at(1).toString(), QString("two"));
                QCOMPARE(at(2).toDouble(), double(block));
                const QString file = QString("visit%1/P%2%3.bmp").arg(u).arg(photo->ID).arg(u, 3, 10, QChar('0'));
                QCOMPARE(at(3).toString(), file);
                QCOMPARE(at(4).toDouble(), double(photo->ID));
                QCOMPARE(at(5).toString(), photo->Parent->Name());
                QCOMPARE(at(6).toDouble(), double(u));
                QCOMPARE(QList<double>({at(7).toDouble(), at(8).toDouble(), at(9).toDouble(), at(10).toDouble()}),
                         QList<double>({400, 20, 0.5, 0}));
                QCOMPARE(at(11).toString(), QString("no"));
                QCOMPARE(at(12).toString(), QString(u == 0 ? "reference" : "yes"));
                const TTransPars& p = photo->TransPars;
                const double transform[] = {p.fAngle, p.Shiftx, p.Shifty, p.Scalex, p.Scaley, p.Coeff};
                for (int k = 0; k < 6; ++k)
                    QVERIFY(qAbs(at(13 + k).toDouble() - transform[k]) <= 1e-14 * qMax(1.0, qAbs(transform[k])));
                if (u == 0)
                    QVERIFY2(!at(19).isValid(), "a reference has no quality");
                else
                    QVERIFY(qAbs(at(19).toDouble() - TTeeth::AlignQuality(*photo)) < 1e-14);
                ++row;
            }
        QCOMPARE(row, 12);
        QVERIFY2(!Cell(book, row, 1).isValid(), "nothing below the second export's rows");
    }

    void RemovedFileStartsAgainAtRowOne()
    {
        OpenStudy();
        Click(*fForm, "ExportBtn");
        QVERIFY(QFile::remove(fAnswer));
        Click(*fForm, "ExportBtn");
        QVERIFY(Note().contains("from row 1"));
        QCOMPARE(ReadExportFile(fAnswer, TExportFormat::Xlsx).front().Row, 1);
    }

    void FileOpenElsewhereIsNeverRewritten_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::newRow("LibreOffice") << ".~lock.out.xlsx#";
        QTest::newRow("Excel") << "~$out.xlsx";
        QTest::newRow("Excel, long name") << "~$t.xlsx";
    }
    void FileOpenElsewhereIsNeverRewritten()
    {
        QFETCH(QString, lock);
        OpenStudy();
        Click(*fForm, "ExportBtn");
        const QByteArray before = [&] {
            QFile f(fAnswer);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        QFile(fUser->Path(lock)).open(QIODevice::WriteOnly);
        Click(*fForm, "ExportBtn");
        QCOMPARE(fOpenElsewhere, 1);
        QFile f(fAnswer);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    void EmptyStudyDoesNothing()
    {
        QVERIFY(Open(*fForm, fUser->Path("")));
        Click(*fForm, "ExportBtn");
        QVERIFY(fAsked.isEmpty());
        QVERIFY(!QFile::exists(fAnswer));
    }

    void FailedExportIsReportedAndLeavesTheFile()
    {
        OpenStudy();
        fAnswer = fUser->Path("notes.csv");
        QFile notes(fAnswer);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("my own notes\n");
        notes.close();
        Click(*fForm, "ExportBtn");
        QVERIFY(QTest::qWaitFor([&] { return fForm->findChild<QMessageBox*>("ProblemsBox") != nullptr; }));
        QVERIFY(fForm->findChild<QMessageBox*>("ProblemsBox")->text().contains("notes.csv"));
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QCOMPARE(notes.readAll(), QByteArray("my own notes\n"));
        QVERIFY(fOpened.isEmpty());
    }

    void LibreOfficeReadsTheExport()
    {
        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty())
            QSKIP("LibreOffice is not installed");
        OpenStudy();
        Click(*fForm, "ExportBtn");
        QProcess office;
        office.setWorkingDirectory(fUser->Path(""));
        // The seventh token off: LibreOffice 7.4 quotes every text cell unless told not to.
        office.start(soffice, {"--headless", "-env:UserInstallation=file://" + fUser->Path("lo-profile"),
                               "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false",
                               "--outdir", fUser->Path("lo"), fAnswer});
        QVERIFY(office.waitForFinished(180000));
        QFile csv(fUser->Path("lo/out.csv"));
        QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(office.readAllStandardError()));
        const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 6);
        qInfo().noquote() << "LibreOffice read:\n" + rows.join('\n');
        QCOMPARE(rows[0].section(',', 0, 0), QString("two"));
        QCOMPARE(rows[1].section(',', 0, 1), QString("Time,%1").arg(fForm->Study()[0]->Name()));
        QCOMPARE(rows[2].section(',', 1, 1), QString("Total Area"));
        QCOMPARE(rows[5].section(',', 0, 0), QString("2"));
        const double red = rows[3].section(',', 2, 2).toDouble();
        QVERIFY(qAbs(red - (*fForm->Study()[0])[0]->GetParam(1)) < 1e-9);
    }
};

ORVIX_WINDOW_TEST_MAIN(ExportWindowTest)

#include "ExportWindowTest.moc"
