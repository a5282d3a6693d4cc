#include "FileList.h"

#include "Types.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool SameLetter(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// "*" matches any run of characters, "?" one character; greedy with backtracking to the last "*".
bool MatchesMask(const QString& name, const QString& mask)
{
    if (mask == QLatin1String("*.*"))
        return true;
    qsizetype n = 0, m = 0, starMask = -1, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == u'?' || (mask[m] != u'*' && SameLetter(mask[m], name[n])))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == u'*') {
            starMask = m++;
            starName = n;
        } else if (starMask >= 0) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == u'*')
        ++m;
    return m == mask.size();
}

int32_t Attributes(const QFileInfo& info)
{
    int32_t attr = 0;
    if (info.isDir())
        attr |= faDirectory;
    else if (info.isFile())
        attr |= faArchive;
    else
        attr |= faSysFile;
    if (info.fileName().startsWith(u'.'))
        attr |= faHidden;
    if (!info.isWritable())
        attr |= faReadOnly;
    return attr;
}

bool NameLess(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

} // namespace

void ListFiles(const QString& Folder, QStringList& List, const QString& Mask, int32_t Attr)
{
    List.clear();
    const QDir dir(Folder);
    QStringList names =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::sort(names.begin(), names.end(), NameLess);
    for (const QString& name : names) {
        if (!MatchesMask(name, Mask))
            continue;
        const int32_t attr = Attributes(QFileInfo(dir, name));
        const int32_t excluded = (faHidden | faSysFile) & ~Attr;
        if ((attr & excluded) != 0 || (attr & Attr) == 0)
            continue;
        List.append(dir.filePath(name));
    }
}

bool AllDigits(const QString& s)
{
    if (s.trimmed().isEmpty())
        return false;
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

namespace {

bool InGroup(gid_t gid)
{
    if (gid == getegid())
        return true;
    std::vector<gid_t> groups(size_t(std::max(getgroups(0, nullptr), 0)));
    const int n = std::max(getgroups(int(groups.size()), groups.data()), 0);
    return std::find(groups.begin(), groups.begin() + n, gid) != groups.begin() + n;
}

} // namespace

bool MayReplaceFile(const QString& Path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(Path).constData(), &st) != 0)
        return true;
    // A run as root must not take over a user's file either.
    if (st.st_uid == geteuid())
        return st.st_mode & S_IWUSR;
    if (InGroup(st.st_gid))
        return st.st_mode & S_IWGRP;
    return st.st_mode & S_IWOTH;
}

void WriteFileWhole(const QString& FileName, const QByteArray& Bytes)
{
    const auto fail = [&](const QString& why) {
        throw TOrvixError(QString("Unable to write %1: %2").arg(FileName, why).toStdString());
    };
    if (!MayReplaceFile(FileName))
        fail("the file is write-protected or belongs to someone else");
    QTemporaryFile temp(FileName + ".XXXXXX");
    if (!temp.open())
        fail(temp.errorString());
    // Written with the system calls themselves: QSaveFile took a write cut short by a full disk for
    // success and renamed a truncated (often empty) file over the old one.
    const int fd = temp.handle();
    for (qsizetype done = 0; done < Bytes.size();) {
        const ssize_t n = ::write(fd, Bytes.constData() + done, size_t(Bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)));
        done += n;
    }
    // A file system may report a full disk only when the data reaches it.
    if (::fsync(fd) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat old {};
    const bool replacing = ::stat(QFile::encodeName(FileName).constData(), &old) == 0;
    if (replacing) {
        // A group the user does not belong to cannot be given; the file then keeps the user's.
        [[maybe_unused]] const int ignored = ::fchown(fd, uid_t(-1), old.st_gid);
    }
    ::fchmod(fd, replacing ? old.st_mode & 07777 : 0644);
    temp.close();
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(FileName).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    temp.setAutoRemove(false);
}
