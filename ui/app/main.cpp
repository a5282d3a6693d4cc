// The desktop program: orvix [STUDY_DIR]
#include "DefaultIniFile.h"
#include "TForm1.h"
#include "TTooth.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    OpenSettingsFile();
    // Re-opening a study then decodes only the photographs that changed since.
    if (const QString cache = TThumbnailCache::DefaultFolder(); !cache.isEmpty())
        TTooth::UseThumbnailCache(std::make_shared<TThumbnailCache>(cache));
    int result;
    {
        const QStringList args = app.arguments();
        TForm1 form(args.size() > 1 ? args.at(1) : QString());
        form.show();
        result = app.exec();
    }
    CloseSettingsFile();
    return result;
}
