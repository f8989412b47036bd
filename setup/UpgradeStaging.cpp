#include "UpgradeStaging.h"

#include "ArchiveExtraction.h"
#include "Locations.h"

#include <QByteArrayList>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a folder that is no link, for working relative to it.
int openOwnFolder(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The entry names of the open folder, as bytes; "." and ".." left out.
bool entryNames(int folderFd, QByteArrayList& names)
{
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return false;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return false;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    return true;
}

QByteArrayList encodedNames(const QStringList& names)
{
    QByteArrayList encoded;
    for (const QString& name : names)
        encoded.append(QFile::encodeName(name));
    return encoded;
}

// Removes one entry of the open folder: a folder with its tree, anything else by unlinking.
bool removeEntry(int folderFd, const QString& folderPath, const QByteArray& name)
{
    struct stat status;
    if (::fstatat(folderFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(folderFd, name.constData(), 0) == 0 || errno == ENOENT;
    forceRemoveDir(folderPath + QLatin1Char('/') + QFile::decodeName(name));
    return ::fstatat(folderFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// Removes whatever stands at path, a folder tree included, without following a link.
void removePath(const QString& path)
{
    struct stat status;
    const QByteArray encoded = QFile::encodeName(path);
    if (::lstat(encoded.constData(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode))
        forceRemoveDir(path);
    else
        ::unlink(encoded.constData());
}

} // namespace

UpgradeStaging::UpgradeStaging()
    : m_path(getAppSupportFolder() + QStringLiteral("/UpgradeStaging"))
{
    // What an earlier run left goes first; a folder made here afresh holds nothing planted.
    removePath(m_path);
    if (::mkdir(QFile::encodeName(m_path).constData(), 0700) != 0)
        return;
    const int fd = openOwnFolder(m_path);
    if (fd < 0)
        return;
    struct stat status;
    m_valid = ::fchmod(fd, 0700) == 0 && ::fstat(fd, &status) == 0 && status.st_uid == ::geteuid();
    ::close(fd);
}

UpgradeStaging::~UpgradeStaging()
{
    if (m_valid)
        removePath(m_path);
}

bool UpgradeStaging::moveContentInto(const QString& folder, const QStringList& skip)
{
    if (!m_valid)
        return false;
    const int stagingFd = openOwnFolder(m_path);
    const int targetFd = openOwnFolder(folder);
    QByteArrayList names;
    bool moved = stagingFd >= 0 && targetFd >= 0 && entryNames(stagingFd, names);
    const QByteArrayList skipped = encodedNames(skip);
    for (const QByteArray& name : std::as_const(names)) {
        if (moved && !skipped.contains(name))
            moved = ::renameat(stagingFd, name.constData(), targetFd, name.constData()) == 0;
    }
    if (stagingFd >= 0)
        ::close(stagingFd);
    if (targetFd >= 0)
        ::close(targetFd);
    return moved;
}

bool removeEntriesExcept(const QString& folder, const QStringList& keep)
{
    const int folderFd = openOwnFolder(folder);
    if (folderFd < 0)
        return false;
    QByteArrayList names;
    bool removed = entryNames(folderFd, names);
    const QByteArrayList kept = encodedNames(keep);
    for (const QByteArray& name : std::as_const(names)) {
        if (!kept.contains(name))
            removed = removeEntry(folderFd, folder, name) && removed;
    }
    ::close(folderFd);
    return removed;
}
