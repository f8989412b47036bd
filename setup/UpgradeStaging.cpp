#include "UpgradeStaging.h"

#include "ArchiveExtraction.h"
#include "FolderTree.h"
#include "Locations.h"

#include <QByteArrayList>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Removes whatever stands at path, a folder tree included, without following a link.
void removePath(const QString& path)
{
    const QFileInfo info(path);
    const UniqueFd parent = openDestination(info.path());
    if (parent.isValid())
        FolderTree::removeEntry(parent.get(), QFile::encodeName(info.fileName()));
}

} // namespace

UpgradeStaging::UpgradeStaging()
    : m_path(getAppSupportFolder() + QStringLiteral("/UpgradeStaging"))
{
    // What an earlier run left goes first; a folder made here afresh holds nothing planted.
    removePath(m_path);
    if (::mkdir(QFile::encodeName(m_path).constData(), 0700) != 0)
        return;
    const UniqueFd folder = openDestination(m_path);
    struct stat status;
    m_valid = folder.isValid() && ::fchmod(folder.get(), 0700) == 0 && ::fstat(folder.get(), &status) == 0
              && status.st_uid == ::geteuid();
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
    const UniqueFd staging = openDestination(m_path);
    const UniqueFd target = openDestination(folder);
    QByteArrayList names;
    bool moved = staging.isValid() && target.isValid() && entryNames(staging.get(), names);
    const QByteArrayList skipped = encodedNames(skip);
    for (const QByteArray& name : std::as_const(names)) {
        if (moved && !skipped.contains(name))
            moved = ::renameat(staging.get(), name.constData(), target.get(), name.constData()) == 0;
    }
    return moved;
}

bool removeEntriesExcept(const QString& folder, const QStringList& keep)
{
    const UniqueFd folderFd = openDestination(folder);
    if (!folderFd.isValid())
        return false;
    QByteArrayList names;
    bool removed = entryNames(folderFd.get(), names);
    const QByteArrayList kept = encodedNames(keep);
    for (const QByteArray& name : std::as_const(names)) {
        if (!kept.contains(name))
            removed = FolderTree::removeEntry(folderFd.get(), name) && removed;
    }
    return removed;
}
