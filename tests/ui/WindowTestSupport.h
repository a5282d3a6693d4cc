// What the window tests share: a fresh user for each test, and driving the main window.
#pragma once

#include "DefaultIniFile.h"
#include "TForm1.h"

#include <QAbstractButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A user without settings and a work folder, for one test.
class TFreshUser {
public:
    TFreshUser()
    {
        qputenv("APPDATA", fConfig.path().toUtf8());
        QDir(fConfig.path()).mkpath("exe");
        OpenSettingsFile(fConfig.filePath("exe"));
    }
    ~TFreshUser() { CloseSettingsFile(); }
    QString Path(const QString& name) const { return fWork.filePath(name); }

private:
    QTemporaryDir fConfig, fWork;
};

template <typename T>
T* Control(QWidget& form, const char* name)
{
    T* w = form.findChild<T*>(name);
    if (!w)
        qFatal("no control %s", name);
    return w;
}

inline void Click(QWidget& form, const char* name)
{
    QTest::mouseClick(Control<QAbstractButton>(form, name), Qt::LeftButton);
}

inline QString Setting(const char* key)
{
    return SettingsFile().ReadString(SettingsSection, key, "<missing>");
}

inline bool WaitIdle(TForm1& form)
{
    return QTest::qWaitFor([&] { return !form.Busy(); }, 120000);
}

// Opens a study through the window and waits until it is shown.
inline bool Open(TForm1& form, const QString& folder)
{
    form.OpenFolder(folder);
    return WaitIdle(form);
}

// A QtTest program's main: a private runtime folder, an application, the tests.
#define ORVIX_WINDOW_TEST_MAIN(TestClass)                                                          \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        QTemporaryDir runtime;                                                                     \
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());                                       \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
