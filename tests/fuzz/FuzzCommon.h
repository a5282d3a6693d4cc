// Shared by the libFuzzer targets: a private folder for the files the model reads, and a quiet Qt.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace Fuzz {

// A folder for this process, in memory where the system offers it; removed at exit.
inline const QString& Folder()
{
    static const QString folder = [] {
        const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
        const QString path = QString("%1/orvix-fuzz-%2").arg(base).arg(getpid());
        QDir().mkpath(path);
        std::atexit([] { QDir(Folder()).removeRecursively(); });
        return path;
    }();
    return folder;
}

inline QString PathOf(const QString& name)
{
    return Folder() + '/' + name;
}

inline void WriteFile(const QString& path, const uint8_t* data, size_t size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(reinterpret_cast<const char*>(data), qint64(size));
}

// Qt's warnings about damaged input are expected by the thousand.
inline void QuietQt()
{
    setenv("QT_LOGGING_RULES", "*=false", 1);
}

} // namespace Fuzz

// A broken oracle: an abort that libFuzzer reports with the input.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            fprintf(stderr, "oracle failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);        \
            abort();                                                                              \
        }                                                                                         \
    } while (0)
