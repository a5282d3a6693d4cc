#include "FileList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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
