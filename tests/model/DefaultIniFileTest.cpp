#include "DefaultIniFile.h"

#include "QtPrinters.h"
#include "Types.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

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
        {"half", 0.25}, {"tiny", 1e-6}, {"spaced", 42}, {"hex", -5}, {"abc", -5}, {"comma", 1.5},
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

// DefaultBGThreshold=0.2 was silently ignored under a German locale, and 0,2 under English.
TEST_F(DefaultIniFileTest, EitherDecimalSeparatorIsReadUnderAnyLocale)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    WriteText(name, QStringLiteral("[Main]\npoint=0.2\ncomma=0,2\nboth=1,000.5\ntwo=0.2.1\n"));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        const TDefaultIniFile ini(name, locale);
        EXPECT_EQ(ini.ReadFloat(Main, QStringLiteral("point"), 0), 0.2) << locale.name().toStdString();
        EXPECT_EQ(ini.ReadFloat(Main, QStringLiteral("comma"), 0), 0.2) << locale.name().toStdString();
        EXPECT_EQ(ini.ReadFloat(Main, QStringLiteral("both"), -5), -5) << "group separators are not numbers";
        EXPECT_EQ(ini.ReadFloat(Main, QStringLiteral("two"), -5), -5);
    }
    TDefaultIniFile comma(name, QLocale(QLocale::German, QLocale::Germany));
    SetDefaultRGThreshold(comma, 0.25);
    EXPECT_TRUE(ReadText(name).contains(QStringLiteral("DefaultRGThreshold=0,25\n"))) << "written as the locale says";
}

// DefaultSPNumber=0 or a background threshold of 7 made every photograph measure 0, silently.
TEST_F(DefaultIniFileTest, OutOfRangeDefaultsAreRefusedNamingKeyAndValue)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    WriteText(name, QStringLiteral("[Main]\nDefaultSPNumber=0\nDefaultCompactness=1001\n"
                                   "DefaultBGThreshold=7\nDefaultRGThreshold=-1\n"));
    TDefaultIniFile ini(name, QLocale::c());
    const QStringList problems = LoadDefaultParams(ini);
    EXPECT_EQ(DefaultSPNumber, 400);
    EXPECT_EQ(DefaultCompactness, 20.0);
    EXPECT_EQ(DefaultBGThreshold, 0.5);
    EXPECT_EQ(DefaultRGThreshold, -1.0) << "the range's end is in range";
    ASSERT_EQ(problems.size(), 3) << problems.join('\n').toStdString();
    EXPECT_EQ(problems[0], name + ": DefaultSPNumber=0 is out of range (from 1 to 100000); 400 is used instead");
    EXPECT_TRUE(problems[1].contains("DefaultCompactness=1001")) << problems[1].toStdString();
    EXPECT_TRUE(problems[2].contains("DefaultBGThreshold=7")) << problems[2].toStdString();

    const QString before = ReadText(name);
    EXPECT_THROW(SetDefaultSPNumber(ini, 100001), TOrvixError);
    EXPECT_THROW(SetDefaultCompactness(ini, 0), TOrvixError);
    EXPECT_THROW(SetDefaultBGThreshold(ini, std::nan("")), TOrvixError);
    EXPECT_THROW(SetDefaultRGThreshold(ini, 1.5), TOrvixError);
    EXPECT_EQ(ReadText(name), before);
    EXPECT_EQ(DefaultSPNumber, 400);
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

// QSaveFile took a write cut short by a full disk for success: the settings file could be left
// truncated.
TEST_F(DefaultIniFileTest, FullDiskLeavesTheSettingsFileAsItWas)
{
    const QString name = Temp.filePath(QStringLiteral("t.ini"));
    TDefaultIniFile ini(name, QLocale::c());
    ini.WriteString(Main, QStringLiteral("LastDir"), QString(200, u'x'));
    const QString before = ReadText(name);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool refused = false;
    try {
        ini.WriteInteger(Main, QStringLiteral("Top"), 5);
    } catch (const TOrvixError&) {
        refused = true;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadText(name), before);
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
