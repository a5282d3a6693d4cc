// The main window: the spreadsheet export. Each export adds the study's block below the blocks of
// this run's earlier exports in one file, which the desktop's spreadsheet program then shows.
#include "TForm1.h"

#include "DefaultIniFile.h"
#include "Export.h"
#include "TStatusPanel.h"
#include "UiErrors.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {

// The lock files that LibreOffice and Excel keep beside a document they have open. Excel shortens
// long names by their first two characters.
bool OpenElsewhere(const QString& File)
{
    const QFileInfo info(File);
    const QDir dir = info.absoluteDir();
    const QString name = info.fileName();
    return QFile::exists(dir.filePath(".~lock." + name + "#")) || QFile::exists(dir.filePath("~$" + name)) ||
           (name.size() > 2 && QFile::exists(dir.filePath("~$" + name.mid(2))));
}

} // namespace

void TForm1::SetExportDefaults()
{
    AskExportFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, "Export to a spreadsheet", suggested,
                                            "Excel workbook (*.xlsx);;CSV text (*.csv)");
    };
    AskOpenElsewhere = [this](const QString& file) {
        QMessageBox box(QMessageBox::Question, "Export",
                        QString("%1 is open in a spreadsheet program, which would overwrite the new block "
                                "when it saves the file.\nClose it there first, or export to a new file.")
                            .arg(QDir::toNativeSeparators(file)),
                        QMessageBox::Cancel, this);
        QAbstractButton* other = box.addButton("Export to a new file...", QMessageBox::AcceptRole);
        box.exec();
        return box.clickedButton() == other;
    };
    OpenDocument = [](const QString& file) { return QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
}

QString TForm1::ChooseExportFile()
{
    const QString folder =
        SettingsFile().ReadString(SettingsSection, "LastExportDir", QDir::homePath());
    const QString name = Teeth->psina.isEmpty() ? QString("orvix") : Teeth->psina;
    const QString file = AskExportFile ? AskExportFile(QDir(folder).filePath(name + ".xlsx")) : QString();
    if (!file.isEmpty())
        SettingsFile().WriteString(SettingsSection, "LastExportDir", QFileInfo(file).absolutePath());
    return file;
}

void TForm1::ExportBtnClick()
{
    if (Busy() || Teeth->PhotographCount() == 0)
        return;
    Guarded(this, [this] {
        // A file removed or renamed since the last export is simply written anew from row 1.
        QString file = fExportFile.isEmpty() ? ChooseExportFile() : fExportFile;
        if (file.isEmpty())
            return;
        // Never rewrite a file that a spreadsheet program holds: its next save would drop the block.
        while (OpenElsewhere(file)) {
            if (!AskOpenElsewhere || !AskOpenElsewhere(file))
                return;
            file = ChooseExportFile();
            if (file.isEmpty())
                return;
        }
        // An export takes well under a second; waiting longer for another one would freeze the window.
        const int32_t row = ExportStudy(*Teeth, file, 5000);
        fExportFile = file;
        QString note = QString("Exported to %1 from row %2").arg(QDir::toNativeSeparators(file)).arg(row);
        if (!OpenDocument || !OpenDocument(file))
            note += " (no spreadsheet program could open it)";
        StatusBar->SetNote(note);
    });
}
