#include "ArchiveWriter.h"

#include "FolderTree.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t folderMode = 0755;

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// Folders of the tree that an earlier unpacking left read-only are made writable for
// their owner, so that what stood there can be replaced.
void makeWritable(int folder)
{
    struct stat status;
    if (::fstat(folder, &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(folder, (status.st_mode & 07777) | S_IRWXU);
}

} // namespace

UniqueFd ArchiveWriter::openParent(const QByteArrayList& parts, bool create)
{
    UniqueFd folder(::dup(m_destination));
    for (qsizetype i = 0; folder.isValid() && i + 1 < parts.size(); ++i) {
        const QByteArray& name = parts.at(i);
        if (create && ::mkdirat(folder.get(), name.constData(), folderMode) == 0)
            m_folders.append(parts.mid(0, i + 1));
        folder = FolderTree::openFolder(folder.get(), name);
        if (create && folder.isValid())
            makeWritable(folder.get());
    }
    return folder;
}

bool ArchiveWriter::makeFolder(const QByteArrayList& parts, bool parents)
{
    const UniqueFd parent = openParent(parts, parents);
    if (!parent.isValid())
        return false;
    if (::mkdirat(parent.get(), parts.last().constData(), folderMode) == 0) {
        m_folders.append(parts);
        return true;
    }
    if (errno != EEXIST)
        return false;
    const UniqueFd existing = FolderTree::openFolder(parent.get(), parts.last());
    if (existing.isValid()) {
        if (parents)
            makeWritable(existing.get());
        return true;
    }
    // Something else stands there: it makes way for the folder.
    if (!FolderTree::removeEntry(parent.get(), parts.last())
        || ::mkdirat(parent.get(), parts.last().constData(), folderMode) != 0)
        return false;
    m_folders.append(parts);
    return true;
}

ArchiveWriter::Result ArchiveWriter::writeFile(ZipArchive& archive, const ArchiveEntry& entry, bool parents)
{
    const UniqueFd parent = openParent(entry.parts, parents);
    const char* name = entry.parts.last().constData();
    if (!parent.isValid() || !FolderTree::removeEntry(parent.get(), entry.parts.last()))
        return NotCreated;
    const UniqueFd file(::openat(parent.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.isValid())
        return NotCreated;
    const ZipEntryReader::Result read =
        archive.read(entry, [&file](const char* data, qsizetype size) { return writeAll(file.get(), data, size); });
    if (read != ZipEntryReader::Complete) {
        const int error = errno;
        ::unlinkat(parent.get(), name, 0);
        errno = error;
        return read == ZipEntryReader::SinkFailed ? NotCreated : Damaged;
    }
    m_files.append(entry.parts);
    return ::fchmod(file.get(), entry.stored.permissions()) == 0 ? Written : WrittenWithoutMode;
}

bool ArchiveWriter::makeLink(const QByteArrayList& parts, const QByteArray& target)
{
    const UniqueFd parent = openParent(parts, true);
    if (!parent.isValid() || !FolderTree::removeEntry(parent.get(), parts.last())
        || ::symlinkat(target.constData(), parent.get(), parts.last().constData()) != 0)
        return false;
    m_files.append(parts);
    return true;
}

bool ArchiveWriter::setFolderMode(const QByteArrayList& parts, quint32 mode)
{
    const UniqueFd parent = openParent(parts, false);
    const UniqueFd folder = parent.isValid() ? FolderTree::openFolder(parent.get(), parts.last()) : UniqueFd();
    return folder.isValid() && ::fchmod(folder.get(), mode) == 0;
}

void ArchiveWriter::removeWritten()
{
    for (const QByteArrayList& parts : std::as_const(m_files)) {
        const UniqueFd parent = openParent(parts, false);
        if (parent.isValid())
            ::unlinkat(parent.get(), parts.last().constData(), 0);
    }
    // The folders this writer made go with whatever they hold, the deepest first.
    for (qsizetype i = m_folders.size() - 1; i >= 0; --i) {
        const UniqueFd parent = openParent(m_folders.at(i), false);
        if (parent.isValid())
            FolderTree::removeEntry(parent.get(), m_folders.at(i).last());
    }
    m_files.clear();
    m_folders.clear();
}
