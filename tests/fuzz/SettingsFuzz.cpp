// The settings file: the input is the file's text, read under the German locale (decimal comma)
// and under the C locale. Every key reads without harm; a key written reads back as written and
// leaves the other keys as they were.
#include "DefaultIniFile.h"
#include "FuzzCommon.h"
#include "Types.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const Keys[] = {"DefaultSPNumber", "DefaultCompactness", "DefaultBGThreshold", "DefaultRGThreshold",
                            "Top", "Left", "Width", "Height", "WindowState", "LastDir"};

struct TSnapshot {
    int32_t Integers[10];
    double Reals[10];
    QString Strings[10];
};

TSnapshot ReadAll(const TDefaultIniFile& ini)
{
    TSnapshot s;
    const QString main = QString::fromLatin1(SettingsSection);
    for (int i = 0; i < 10; ++i) {
        s.Integers[i] = ini.ReadInteger(main, Keys[i], -7);
        s.Reals[i] = ini.ReadFloat(main, Keys[i], -7.5);
        s.Strings[i] = ini.ReadString(main, Keys[i], "none");
        FUZZ_CHECK(s.Strings[i].size() <= 2047);
    }
    return s;
}

bool SameReal(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

void Probe(const QString& path, const QLocale& locale)
{
    TDefaultIniFile ini(path, locale);
    const TSnapshot before = ReadAll(ini);
    LoadDefaultParams(ini);
    try {
        ini.WriteFloat(QString::fromLatin1(SettingsSection), "DefaultBGThreshold", 0.25);
    } catch (const TOrvixError&) {
        return;
    }
    FUZZ_CHECK(ini.ReadFloat(QString::fromLatin1(SettingsSection), "DefaultBGThreshold", 0) == 0.25);
    const TSnapshot after = ReadAll(ini);
    for (int i = 0; i < 10; ++i) {
        if (i == 2)
            continue;
        FUZZ_CHECK(after.Integers[i] == before.Integers[i]);
        FUZZ_CHECK(SameReal(after.Reals[i], before.Reals[i]));
        FUZZ_CHECK(after.Strings[i] == before.Strings[i]);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz::QuietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = Fuzz::PathOf("orvix.ini");
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
        Fuzz::WriteFile(path, data, size);
        Probe(path, locale);
    }
    return 0;
}
