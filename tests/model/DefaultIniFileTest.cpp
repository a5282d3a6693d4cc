#include "DefaultIniFile.h"

#include "QtPrinters.h"
#include "Types.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString Main = QStringLiteral("Main");

QString ReadText(const QString& fileName)
{
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<missing>");
}

void WriteText(const QString& fileName, const QString& text)
{
    QFile f(fileName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

// A private APPDATA and executable folder for each test.
class DefaultIniFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Temp.isValid());
        fOldAppData = qgetenv("APPDATA");
        fHadAppData = qEnvironmentVariableIsSet("APPDATA");
        qputenv("APPDATA", Temp.filePath(QStringLiteral("appdata")).toLocal8Bit());
        ASSERT_TRUE(QDir(Temp.path()).mkpath(QStringLiteral("appdata")));
        ASSERT_TRUE(QDir(Temp.path()).mkpath(QStringLiteral("exe")));
        ExeFolder = Temp.filePath(QStringLiteral("exe"));
        SettingsName = Temp.filePath(QStringLiteral("appdata/orvix/orvix.ini"));
        DefaultSPNumber = 0;
        DefaultCompactness = 0;
        DefaultBGThreshold = 0;
        DefaultRGThreshold = 0;
    }

    void TearDown() override
    {
        CloseSettingsFile();
        if (fHadAppData)
            qputenv("APPDATA", fOldAppData);
        else
            qunsetenv("APPDATA");
    }

    QTemporaryDir Temp;
    QString ExeFolder;
    QString SettingsName;

private:
    QByteArray fOldAppData;
    bool fHadAppData = false;
};

} // namespace

TEST_F(DefaultIniFileTest, FirstStartGivesDefaultsAndFirstWriteCreatesFile)
{
    OpenSettingsFile(ExeFolder);
    EXPECT_EQ(SettingsFile().FileName(), SettingsName);
    EXPECT_TRUE(QDir(Temp.filePath(QStringLiteral("appdata/orvix"))).exists());
    EXPECT_FALSE(QFile::exists(SettingsName));

    LoadDefaultParams();
    EXPECT_EQ(DefaultSPNumber, 400);
    EXPECT_EQ(DefaultCompactness, 20.0);
    EXPECT_EQ(DefaultBGThreshold, 0.5);
    EXPECT_EQ(DefaultRGThreshold, 0.0);
    EXPECT_EQ(SettingsFile().ReadString(Main, QStringLiteral("LastDir"), QStringLiteral("none")), QStringLiteral("none"));

    SetDefaultSPNumber(250);
    EXPECT_EQ(DefaultSPNumber, 250);
    EXPECT_EQ(ReadText(SettingsName), QStringLiteral("[Main]\nDefaultSPNumber=250\n"));
    EXPECT_EQ(QDir(Temp.filePath(QStringLiteral("appdata/orvix"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("orvix.ini")});   // no temporary file left behind
}

TEST_F(DefaultIniFileTest, SeedsFromFileBesideExecutableOnce)
{
    const QString defaultName = QDir(ExeFolder).filePath(QStringLiteral("orvix.ini"));
    WriteText(defaultName, QStringLiteral("[Main]\r\nDefaultSPNumber=123\r\nDefaultCompactness=7\r\n"));
    QFile::setPermissions(defaultName, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);

    OpenSettingsFile(ExeFolder);
    LoadDefaultParams();
    EXPECT_EQ(DefaultSPNumber, 123);
    EXPECT_EQ(DefaultCompactness, 7.0);
    EXPECT_TRUE(QFile::permissions(SettingsName) & QFileDevice::WriteOwner);

    SetDefaultSPNumber(300);
    EXPECT_EQ(ReadText(SettingsName), QStringLiteral("[Main]\nDefaultSPNumber=300\nDefaultCompactness=7\n"));
    EXPECT_EQ(ReadText(defaultName), QStringLiteral("[Main]\r\nDefaultSPNumber=123\r\nDefaultCompactness=7\r\n"));

    CloseSettingsFile();
    OpenSettingsFile(ExeFolder);   // the user's copy exists now: no second seeding
    EXPECT_EQ(SettingsFile().ReadInteger(Main, QStringLiteral("DefaultSPNumber"), 0), 300);
}

TEST_F(DefaultIniFileTest, ValuesThatDoNotParseGiveTheDefault)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    WriteText(name, QStringLiteral("[Other]\nhex=1\n[main]\n"
                                   "hex=0x10\ndollar=$10\nneg=-$10\nallbits=$FFFFFFFF\nbig=99999999999\n"
                                   "spaced =  42  \nreal=1.5\nabc=abc\nhalf=0.25\ntiny=1E-6\ncomma=1,5\n"
                                   "inf=inf\nnan=nan\nquoted=\"a b\"\n; hex=7\n"));
    const TDefaultIniFile ini(name, QLocale::c());
    const std::pair<const char*, int32_t> integers[] = {
        {"hex", 16}, {"HEX", 16}, {"dollar", 16}, {"neg", -16}, {"allbits", -1}, {"big", -5},
        {"spaced", 42}, {"real", -5}, {"abc", -5}, {"missing", -5},
    };
    for (const auto& [key, expected] : integers)
        EXPECT_EQ(ini.ReadInteger(Main, QString::fromLatin1(key), -5), expected) << key;
    const std::pair<const char*, double> reals[] = {
        {"half", 0.25}, {"tiny", 1e-6}, {"spaced", 42}, {"hex", -5}, {"abc", -5}, {"comma", -5},
        {"inf", -5}, {"nan", -5},
    };
    for (const auto& [key, expected] : reals)
        EXPECT_EQ(ini.ReadFloat(Main, QString::fromLatin1(key), -5), expected) << key;
    EXPECT_EQ(ini.ReadString(Main, QStringLiteral("quoted"), {}), QStringLiteral("a b"));
}

TEST_F(DefaultIniFileTest, RealsUseLocaleSeparatorAndReadBack)
{
    const TDefaultIniFile point(Temp.filePath(QStringLiteral("p.ini")), QLocale::c());
    const TDefaultIniFile comma(Temp.filePath(QStringLiteral("c.ini")), QLocale(QLocale::German, QLocale::Germany));
    const std::tuple<double, const char*, const char*> cases[] = {
        {20.0, "20", "20"},           {0.5, "0.5", "0,5"},         {-2.5, "-2.5", "-2,5"},
        {1e-6, "1E-6", "1E-6"},       {0.1 + 0.2, "0.3", "0,3"},   {123456.789, "123456.789", "123456,789"},
        {1e20, "1E+20", "1E+20"},     {0.0001, "0.0001", "0,0001"},
    };
    for (const auto& [value, pointText, commaText] : cases) {
        EXPECT_EQ(point.FormatFloat(value), QString::fromLatin1(pointText));
        EXPECT_EQ(comma.FormatFloat(value), QString::fromLatin1(commaText));
        double back = 0;
        ASSERT_TRUE(comma.ParseFloat(comma.FormatFloat(value), back)) << commaText;
        EXPECT_DOUBLE_EQ(back, value);
    }
}

TEST_F(DefaultIniFileTest, PointWrittenRealIsDefaultUnderCommaLocale)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    TDefaultIniFile point(name, QLocale::c());
    TDefaultIniFile comma(name, QLocale(QLocale::German, QLocale::Germany));
    SetDefaultRGThreshold(point, 0.25);
    LoadDefaultParams(comma);
    EXPECT_EQ(DefaultRGThreshold, 0.0);
    SetDefaultRGThreshold(comma, DefaultRGThreshold);
    EXPECT_EQ(ReadText(name), QStringLiteral("[Main]\nDefaultRGThreshold=0\n"));
    comma.WriteFloat(Main, QStringLiteral("DefaultBGThreshold"), 0.75);
    EXPECT_EQ(comma.ReadFloat(Main, QStringLiteral("DefaultBGThreshold"), 0), 0.75);
}

TEST_F(DefaultIniFileTest, WritesKeepOtherLinesInPlace)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    WriteText(name, QStringLiteral("[Other]\nx=1\n[Main]\n; note\nA=1\n\n[Tail]\ny=2\n"));
    TDefaultIniFile ini(name, QLocale::c());
    ini.WriteInteger(Main, QStringLiteral("B"), 2);
    ini.WriteInteger(Main, QStringLiteral("a"), 5);
    ini.WriteString(QStringLiteral("New"), QStringLiteral("LastDir"), QStringLiteral("/data/study 1"));
    EXPECT_EQ(ReadText(name), QStringLiteral("[Other]\nx=1\n[Main]\n; note\na=5\nB=2\n\n[Tail]\ny=2\n\n"
                                             "[New]\nLastDir=/data/study 1\n"));
    const QString longText(3000, u'x');
    ini.WriteString(Main, QStringLiteral("Long"), longText);
    EXPECT_EQ(ini.ReadString(Main, QStringLiteral("Long"), {}), longText.left(2047));
}

TEST_F(DefaultIniFileTest, RefusedWriteRaisesAndLeavesDefaultUnchanged)
{
    const QString blocker = Temp.filePath(QStringLiteral("file"));
    WriteText(blocker, QStringLiteral("not a folder"));
    const QString name = blocker + QStringLiteral("/orvix.ini");   // its parent is a regular file
    TDefaultIniFile ini(name, QLocale::c());
    EXPECT_EQ(ini.ReadInteger(Main, QStringLiteral("Top"), 7), 7);
    DefaultSPNumber = 400;
    try {
        SetDefaultSPNumber(ini, 12);
        FAIL() << "write was not refused";
    } catch (const TOrvixError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Unable to write to ") + name);
    }
    EXPECT_EQ(DefaultSPNumber, 400);
}

TEST_F(DefaultIniFileTest, SettingsFileMustBeOpened)
{
    EXPECT_THROW(SettingsFile(), TOrvixError);
}

TEST_F(DefaultIniFileTest, SettingsFolderFallsBackToXdgThenHome)
{
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("APPDATA", "");
    qputenv("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(TDefaultIniFile::SettingsFolder(), QStringLiteral("/xdg/orvix"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TDefaultIniFile::SettingsFolder(), QDir::homePath() + QStringLiteral("/.config/orvix"));
    if (hadXdg)
        qputenv("XDG_CONFIG_HOME", oldXdg);
}
