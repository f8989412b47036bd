#include "FolderTree.h"

#include <QByteArrayList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

// A folder being emptied: who it is, its name in its parent, and the sub-folders that are
// left to empty.
struct Level
{
    QByteArray name;
    dev_t device;
    ino_t inode;
    QByteArrayList folders;
};

bool isFolderAt(int parent, const char* name)
{
    struct stat status;
    return ::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}

// Unlinks every entry of the open folder but its sub-folders, which it lists.
bool enter(int folder, const QByteArray& name, Level& level)
{
    struct stat status;
    if (::fstat(folder, &status) != 0)
        return false;
    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(folder, (status.st_mode & 07777) | S_IRWXU);
    level = {name, status.st_dev, status.st_ino, {}};

    const int listing = ::dup(folder);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return true;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* child = entry->d_name;
        if (qstrcmp(child, ".") == 0 || qstrcmp(child, "..") == 0)
            continue;
        if (::unlinkat(folder, child, 0) == 0)
            continue;
        if ((errno == EISDIR || errno == EPERM) && isFolderAt(folder, child))
            level.folders.append(QByteArray(child));
    }
    ::closedir(dir);
    return true;
}

bool sameFolder(int fd, dev_t device, ino_t inode)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 && status.st_dev == device && status.st_ino == inode;
}

// Empties and removes the folder name inside parent. Only one folder is open at a time,
// and the walk climbs back through "..", checked against the folder it came from, so
// neither the depth nor a moved folder can lead it out of the tree.
void removeTree(int parent, const QByteArray& name)
{
    struct stat parentStatus;
    if (::fstat(parent, &parentStatus) != 0)
        return;
    UniqueFd current = FolderTree::openFolder(parent, name);
    std::vector<Level> levels(1);
    if (!current.isValid() || !enter(current.get(), name, levels.back()))
        return;

    for (;;) {
        Level& level = levels.back();
        if (!level.folders.isEmpty()) {
            const QByteArray child = level.folders.takeLast();
            UniqueFd folder = FolderTree::openFolder(current.get(), child);
            if (!folder.isValid()) {
                // Swapped for a link or a file since it was listed: only that goes.
                ::unlinkat(current.get(), child.constData(), 0);
                continue;
            }
            Level entered;
            if (enter(folder.get(), child, entered)) {
                current = std::move(folder);
                levels.push_back(entered);
            }
            continue;
        }

        const QByteArray done = level.name;
        levels.pop_back();
        UniqueFd up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const bool back = levels.empty() ? sameFolder(up.get(), parentStatus.st_dev, parentStatus.st_ino)
                                         : sameFolder(up.get(), levels.back().device, levels.back().inode);
        if (!up.isValid() || !back)
            return; // the tree was moved while it was walked: stop rather than follow it
        current = std::move(up);
        ::unlinkat(current.get(), done.constData(), AT_REMOVEDIR);
        if (levels.empty())
            return;
    }
}

} // namespace

namespace FolderTree {

UniqueFd openFolder(int parent, const QByteArray& name)
{
    return UniqueFd(::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool removeEntry(int parent, const QByteArray& name)
{
    if (::unlinkat(parent, name.constData(), 0) == 0 || errno == ENOENT)
        return true;
    if ((errno != EISDIR && errno != EPERM) || !isFolderAt(parent, name.constData()))
        return false;
    removeTree(parent, name);
    struct stat status;
    return ::fstatat(parent, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

} // namespace FolderTree
