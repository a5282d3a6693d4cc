// The per-user settings file (section "Main", key=value lines) and the four process-wide default
// parameters of segmentation and classification.
#pragma once

#include "Types.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>

// All keys of the program live in this section.
inline constexpr const char* SettingsSection = "Main";

// An INI file read from disk at every read and rewritten at every write (written to a temporary file
// in the same folder, then renamed over the old one, so a failed write never leaves half a file).
// Section and key names are matched ignoring letter case; values are trimmed and one pair of
// surrounding quotes is removed. Reads of a missing file, section or key, or of a value that does
// not parse, give the caller's default. Not thread-safe: the UI thread owns it.
class TDefaultIniFile {
public:
    // Reals are written and read with the decimal separator of Locale.
    explicit TDefaultIniFile(QString FileName, QLocale Locale = QLocale::system());

    const QString& FileName() const { return fFileName; }

    // Decimal, or hexadecimal after "0x" or "$" (up to 8 hex digits; $FFFFFFFF reads as -1);
    // an optional sign in front.
    int32_t ReadInteger(const QString& Section, const QString& Key, int32_t Default) const;
    // Up to 15 significant digits, no trailing zeros (20.0 is "20"), "1E-6" form for tiny values.
    // Written with Locale's decimal separator; read with it, "." or "," alike.
    double ReadFloat(const QString& Section, const QString& Key, double Default) const;
    // At most 2047 characters are returned.
    QString ReadString(const QString& Section, const QString& Key, const QString& Default) const;

    // Each throws TOrvixError "Unable to write to <FileName>" when the file cannot be written.
    void WriteInteger(const QString& Section, const QString& Key, int32_t Value);
    void WriteFloat(const QString& Section, const QString& Key, double Value);
    // Value goes on one line as it stands (line breaks would split it; callers pass one-line text).
    void WriteString(const QString& Section, const QString& Key, const QString& Value);

    // The real in the file's format, and its parse (false when Text is not a real in that format).
    QString FormatFloat(double Value) const;
    bool ParseFloat(const QString& Text, double& Value) const;

    // $APPDATA/orvix when APPDATA is set and not empty, else $XDG_CONFIG_HOME/orvix, else
    // ~/.config/orvix.
    static QString SettingsFolder();
    // The folder of the running program: QCoreApplication::applicationDirPath() when an application
    // object exists, else the folder of /proc/self/exe.
    static QString ExecutableFolder();
    // Locates the settings file SettingsFolder()/orvix.ini, creates its folder and seeds the file
    // with a copy of ExeFolder/orvix.ini when it does not exist yet (failures there are ignored:
    // the first write then reports them). ExeFolder empty means ExecutableFolder().
    static std::unique_ptr<TDefaultIniFile> Open(const QString& ExeFolder = {});

private:
    bool ReadValue(const QString& Section, const QString& Key, QString& Value) const;
    void WriteValue(const QString& Section, const QString& Key, const QString& Value);

    QString fFileName;
    QLocale fLocale;
};

// The process-wide settings object. OpenSettingsFile at program start, before any window;
// CloseSettingsFile at the end (it writes nothing). SettingsFile throws TOrvixError while none is open.
// UI thread only.
void OpenSettingsFile(const QString& ExeFolder = {});
void CloseSettingsFile();
TDefaultIniFile& SettingsFile();

// The ranges every source of the four parameters is held to: the settings file, the command line,
// result files and the windows' edits. Outside them a photograph measures nonsense (0 superpixels,
// a background threshold of 7 makes everything background).
inline bool ValidSPNumber(int32_t v) { return v >= 1 && v <= MaxSuperpixels; }
inline bool ValidCompactness(double v) { return v > 0 && v <= 1000; } // false for NaN
inline bool ValidBGThreshold(double v) { return v >= 0 && v <= 1; }
inline bool ValidRGThreshold(double v) { return v >= -1 && v <= 1; }
// The ranges in words, for messages.
inline constexpr const char* SPNumberRange = "from 1 to 100000";
inline constexpr const char* CompactnessRange = "above 0 and at most 1000";
inline constexpr const char* BGThresholdRange = "from 0 to 1";
inline constexpr const char* RGThresholdRange = "from -1 to 1";

// The process-wide defaults, named by their keys. 0 until loaded; safe to read on any thread.
extern std::atomic<int32_t> DefaultSPNumber;
extern std::atomic<double> DefaultCompactness;
extern std::atomic<double> DefaultBGThreshold;
extern std::atomic<double> DefaultRGThreshold;

// Loads the four defaults from Ini (missing or bad values: 400, 20, 0.5, 0). A value out of its
// range is refused: the built-in default is used and the result has one message per such value,
// naming the file, the key and the value. UI thread.
QStringList LoadDefaultParams(const TDefaultIniFile& Ini);
QStringList LoadDefaultParams();   // from SettingsFile()

// Each writes its key, then (if the write succeeded) the value in memory; a value out of its
// range throws TOrvixError naming the key and the value, and nothing changes. UI thread.
void SetDefaultSPNumber(TDefaultIniFile& Ini, int32_t Value);
void SetDefaultCompactness(TDefaultIniFile& Ini, double Value);
void SetDefaultBGThreshold(TDefaultIniFile& Ini, double Value);
void SetDefaultRGThreshold(TDefaultIniFile& Ini, double Value);
// The same on SettingsFile().
void SetDefaultSPNumber(int32_t Value);
void SetDefaultCompactness(double Value);
void SetDefaultBGThreshold(double Value);
void SetDefaultRGThreshold(double Value);
