#include "DefaultIniFile.h"

#include "FileList.h"
#include "Types.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<int32_t> DefaultSPNumber{0};
std::atomic<double> DefaultCompactness{0};
std::atomic<double> DefaultBGThreshold{0};
std::atomic<double> DefaultRGThreshold{0};

namespace {

const QString BaseName = QStringLiteral("orvix");
constexpr qsizetype MaxStringLength = 2047;   // the 2048-character buffer of the INI reader, less its terminator

std::unique_ptr<TDefaultIniFile> gSettings;

[[noreturn]] void ThrowWriteError(const QString& fileName)
{
    throw TOrvixError(QStringLiteral("Unable to write to %1").arg(fileName).toStdString());
}

bool SectionHeader(const QString& line, QString& name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(u'[') || !t.contains(u']'))
        return false;
    name = t.mid(1, t.indexOf(u']') - 1).trimmed();
    return true;
}

bool KeyLine(const QString& line, QString& key, QString& value)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0 || line.trimmed().startsWith(u';'))
        return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    return true;
}

// Lines of the file; a missing file is empty, an unreadable one an error (rewriting it would lose it).
bool ReadLines(const QString& fileName, QStringList& lines)
{
    lines.clear();
    QFile file(fileName);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    lines = text.split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return true;
}

// Index of the header line of section, or -1.
qsizetype FindSection(const QStringList& lines, const QString& section)
{
    QString name;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (SectionHeader(lines[i], name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// Puts key=value into lines: over the key's line, else after the section's last non-blank line,
// else in a new section at the end.
void SetValue(QStringList& lines, const QString& section, const QString& key, const QString& value)
{
    const QString entry = key + u'=' + value;
    const qsizetype header = FindSection(lines, section);
    if (header < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(u'[' + section + u']');
        lines.append(entry);
        return;
    }
    qsizetype insertAt = header + 1;
    QString name, k, v;
    for (qsizetype i = header + 1; i < lines.size() && !SectionHeader(lines[i], name); ++i) {
        if (KeyLine(lines[i], k, v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = entry;
            return;
        }
        if (!lines[i].trimmed().isEmpty())
            insertAt = i + 1;
    }
    lines.insert(insertAt, entry);
}

bool AllOf(const QString& s, bool (*pred)(char16_t))
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [pred](QChar c) { return pred(c.unicode()); });
}

bool IsDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool IsHexDigit(char16_t c)
{
    return IsDecimalDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Optional sign, then decimal digits or "$"/"0x" and up to 8 hex digits. Hex is a bit pattern of
// up to 32 bits, so $FFFFFFFF is -1.
bool ParseInteger(QString s, int32_t& value)
{
    bool negative = false;
    if (s.startsWith(u'-') || s.startsWith(u'+')) {
        negative = s.startsWith(u'-');
        s.remove(0, 1);
    }
    qint64 magnitude = 0;
    if (s.startsWith(u'$') || s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = s.mid(s.startsWith(u'$') ? 1 : 2);
        if (digits.size() > 8 || !AllOf(digits, IsHexDigit))
            return false;
        magnitude = qint32(digits.toUInt(nullptr, 16));
    } else {
        if (!AllOf(s, IsDecimalDigit))
            return false;
        bool ok = false;
        magnitude = s.toLongLong(&ok, 10);
        if (!ok || magnitude > qint64(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0))
            return false;
    }
    value = int32_t(negative ? -magnitude : magnitude);
    return true;
}

} // namespace

TDefaultIniFile::TDefaultIniFile(QString FileName, QLocale Locale)
    : fFileName(std::move(FileName)), fLocale(std::move(Locale))
{
}

bool TDefaultIniFile::ReadValue(const QString& Section, const QString& Key, QString& Value) const
{
    QStringList lines;
    ReadLines(fFileName, lines);
    const qsizetype header = FindSection(lines, Section);
    if (header < 0)
        return false;
    QString name, key, value;
    for (qsizetype i = header + 1; i < lines.size() && !SectionHeader(lines[i], name); ++i) {
        if (KeyLine(lines[i], key, value) && key.compare(Key, Qt::CaseInsensitive) == 0) {
            const bool quoted = value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') &&
                                value.back() == value[0];
            Value = quoted ? value.mid(1, value.size() - 2) : value;
            return true;
        }
    }
    return false;
}

void TDefaultIniFile::WriteValue(const QString& Section, const QString& Key, const QString& Value)
{
    QStringList lines;
    if (!ReadLines(fFileName, lines))
        ThrowWriteError(fFileName);
    SetValue(lines, Section, Key, Value);
    try {
        WriteFileWhole(fFileName, (lines.join(u'\n') + u'\n').toUtf8());
    } catch (const TOrvixError&) {
        ThrowWriteError(fFileName);
    }
}

QString TDefaultIniFile::ReadString(const QString& Section, const QString& Key, const QString& Default) const
{
    QString value;
    if (!ReadValue(Section, Key, value))
        return Default;
    return value.left(MaxStringLength);
}

int32_t TDefaultIniFile::ReadInteger(const QString& Section, const QString& Key, int32_t Default) const
{
    QString text;
    int32_t value = 0;
    if (ReadValue(Section, Key, text) && ParseInteger(text, value))
        return value;
    return Default;
}

double TDefaultIniFile::ReadFloat(const QString& Section, const QString& Key, double Default) const
{
    QString text;
    double value = 0;
    if (ReadValue(Section, Key, text) && ParseFloat(text, value))
        return value;
    return Default;
}

void TDefaultIniFile::WriteString(const QString& Section, const QString& Key, const QString& Value)
{
    WriteValue(Section, Key, Value);
}

void TDefaultIniFile::WriteInteger(const QString& Section, const QString& Key, int32_t Value)
{
    WriteValue(Section, Key, QString::number(Value));
}

void TDefaultIniFile::WriteFloat(const QString& Section, const QString& Key, double Value)
{
    WriteValue(Section, Key, FormatFloat(Value));
}

// The digits come from the C locale and only the separator from the user's: QLocale's own digits,
// group separators and exponent symbols vary by locale and would not all read back.
QString TDefaultIniFile::FormatFloat(double Value) const
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::OmitLeadingZeroInExponent);
    QString text = c.toString(Value, 'G', 15);
    text.replace(u'.', fLocale.decimalPoint());
    return text;
}

// Both separators are read, whatever the locale: a settings file copied from a colleague, or
// written under another language, must not silently fall back to the defaults.
bool TDefaultIniFile::ParseFloat(const QString& Text, double& Value) const
{
    QString text = Text.trimmed();
    text.replace(fLocale.decimalPoint(), QLatin1String("."));
    text.replace(u',', u'.');
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = c.toDouble(text, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    Value = v;
    return true;
}

QString TDefaultIniFile::SettingsFolder()
{
    QString root = qEnvironmentVariable("APPDATA");
    if (root.isEmpty())
        root = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (root.isEmpty())
        root = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(root).filePath(BaseName);
}

QString TDefaultIniFile::ExecutableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

std::unique_ptr<TDefaultIniFile> TDefaultIniFile::Open(const QString& ExeFolder)
{
    const QString folder = SettingsFolder();
    const QString fileName = QDir(folder).filePath(BaseName + QStringLiteral(".ini"));
    const QString exeFolder = ExeFolder.isEmpty() ? ExecutableFolder() : ExeFolder;
    const QString defaultName = QDir(exeFolder).filePath(BaseName + QStringLiteral(".ini"));
    // The parent may be missing too (a fresh account without ~/.config).
    QDir().mkpath(folder);
    if (!QFileInfo::exists(fileName) && QFileInfo::exists(defaultName) && QFile::copy(defaultName, fileName)) {
        // A read-only installed default must not make the user's copy read-only.
        QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::WriteOwner);
    }
    return std::make_unique<TDefaultIniFile>(fileName);
}

void OpenSettingsFile(const QString& ExeFolder)
{
    gSettings = TDefaultIniFile::Open(ExeFolder);
}

void CloseSettingsFile()
{
    gSettings.reset();
}

TDefaultIniFile& SettingsFile()
{
    if (!gSettings)
        throw TOrvixError("The settings file is not open");
    return *gSettings;
}

namespace {

const QString KeySPNumber = QStringLiteral("DefaultSPNumber");
const QString KeyCompactness = QStringLiteral("DefaultCompactness");
const QString KeyBGThreshold = QStringLiteral("DefaultBGThreshold");
const QString KeyRGThreshold = QStringLiteral("DefaultRGThreshold");

template <typename T> QString OutOfRange(const QString& key, T value, const char* range)
{
    return QString("%1 must be %2, not %3").arg(key, QLatin1String(range)).arg(value);
}

// The value of key when it is in range, else the built-in default and a message naming both.
template <typename T>
T Checked(const TDefaultIniFile& ini, const QString& key, T value, T builtIn, bool (*valid)(T),
          const char* range, QStringList& problems)
{
    if (valid(value))
        return value;
    const QString text = ini.ReadString(QString::fromLatin1(SettingsSection), key, {});
    problems << QString("%1: %2=%3 is out of range (%4); %5 is used instead")
                    .arg(ini.FileName(), key, text, QLatin1String(range), ini.FormatFloat(double(builtIn)));
    return builtIn;
}

} // namespace

QStringList LoadDefaultParams(const TDefaultIniFile& Ini)
{
    const QString main = QString::fromLatin1(SettingsSection);
    QStringList problems;
    DefaultSPNumber = Checked(Ini, KeySPNumber, Ini.ReadInteger(main, KeySPNumber, 400), 400, ValidSPNumber,
                              SPNumberRange, problems);
    DefaultCompactness = Checked(Ini, KeyCompactness, Ini.ReadFloat(main, KeyCompactness, 20.0), 20.0,
                                 ValidCompactness, CompactnessRange, problems);
    DefaultBGThreshold = Checked(Ini, KeyBGThreshold, Ini.ReadFloat(main, KeyBGThreshold, 0.5), 0.5,
                                 ValidBGThreshold, BGThresholdRange, problems);
    DefaultRGThreshold = Checked(Ini, KeyRGThreshold, Ini.ReadFloat(main, KeyRGThreshold, 0.0), 0.0,
                                 ValidRGThreshold, RGThresholdRange, problems);
    return problems;
}

QStringList LoadDefaultParams()
{
    return LoadDefaultParams(SettingsFile());
}

void SetDefaultSPNumber(TDefaultIniFile& Ini, int32_t Value)
{
    if (!ValidSPNumber(Value))
        throw TOrvixError(OutOfRange(KeySPNumber, Value, SPNumberRange).toStdString());
    Ini.WriteInteger(QString::fromLatin1(SettingsSection), KeySPNumber, Value);
    DefaultSPNumber = Value;
}

void SetDefaultCompactness(TDefaultIniFile& Ini, double Value)
{
    if (!ValidCompactness(Value))
        throw TOrvixError(OutOfRange(KeyCompactness, Ini.FormatFloat(Value), CompactnessRange).toStdString());
    Ini.WriteFloat(QString::fromLatin1(SettingsSection), KeyCompactness, Value);
    DefaultCompactness = Value;
}

void SetDefaultBGThreshold(TDefaultIniFile& Ini, double Value)
{
    if (!ValidBGThreshold(Value))
        throw TOrvixError(OutOfRange(KeyBGThreshold, Ini.FormatFloat(Value), BGThresholdRange).toStdString());
    Ini.WriteFloat(QString::fromLatin1(SettingsSection), KeyBGThreshold, Value);
    DefaultBGThreshold = Value;
}

void SetDefaultRGThreshold(TDefaultIniFile& Ini, double Value)
{
    if (!ValidRGThreshold(Value))
        throw TOrvixError(OutOfRange(KeyRGThreshold, Ini.FormatFloat(Value), RGThresholdRange).toStdString());
    Ini.WriteFloat(QString::fromLatin1(SettingsSection), KeyRGThreshold, Value);
    DefaultRGThreshold = Value;
}

void SetDefaultSPNumber(int32_t Value)
{
    SetDefaultSPNumber(SettingsFile(), Value);
}

void SetDefaultCompactness(double Value)
{
    SetDefaultCompactness(SettingsFile(), Value);
}

void SetDefaultBGThreshold(double Value)
{
    SetDefaultBGThreshold(SettingsFile(), Value);
}

void SetDefaultRGThreshold(double Value)
{
    SetDefaultRGThreshold(SettingsFile(), Value);
}
