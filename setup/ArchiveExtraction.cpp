#include "ArchiveExtraction.h"

#include "ArchiveWriter.h"
#include "FolderTree.h"
#include "QuilmLog.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

constexpr quint32 maxLinkTargetSize = 4095;

bool isAbsoluteName(const QByteArray& name)
{
    return name.startsWith('/') || name.startsWith('\\') || (name.size() >= 2 && name.at(1) == ':');
}

// Other unpackers take "\" for a separator too.
QByteArrayList slashedParts(QByteArray name)
{
    return name.replace('\\', '/').split('/');
}

bool hasDotDotPart(const QByteArray& name)
{
    return slashedParts(name).contains("..");
}

// The first count parts as the product's file system compares them: without regard to
// letter case.
QString foldedPath(const QByteArrayList& parts, qsizetype count)
{
    return QString::fromUtf8(parts.mid(0, count).join('/')).toCaseFolded();
}

// Whether the first count parts, walked from the destination, meet a link.
bool existingLinkOnPath(int destination, const QByteArrayList& parts, qsizetype count)
{
    if (destination < 0)
        return false;
    UniqueFd folder(::dup(destination));
    for (qsizetype i = 0; folder.isValid() && i < count; ++i) {
        struct stat status;
        if (::fstatat(folder.get(), parts.at(i).constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(status.st_mode))
            return true;
        if (!S_ISDIR(status.st_mode))
            return false;
        if (i + 1 < count)
            folder = FolderTree::openFolder(folder.get(), parts.at(i));
    }
    return false;
}

// A link's target, resolved by its names from the folder the link lies in, stays inside
// the destination and passes through no link.
bool linkTargetInside(const ArchiveEntry& link, const QByteArray& target, const QSet<QString>& archiveLinks,
                      int destination)
{
    if (target.isEmpty() || target.contains('\0') || target.startsWith('/'))
        return false;
    QByteArrayList place = link.parts.mid(0, link.parts.size() - 1);
    const QByteArrayList parts = slashedParts(target);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray& part = parts.at(i);
        if (part == "..") {
            if (place.isEmpty())
                return false;
            place.removeLast();
        } else if (!part.isEmpty() && part != ".") {
            place.append(part);
            // Every name but the last is a folder passed through.
            const bool passed = i + 1 < parts.size();
            if (passed
                && (archiveLinks.contains(foldedPath(place, place.size()))
                    || existingLinkOnPath(destination, place, place.size())))
                return false;
        }
    }
    return true;
}

QSet<QString> archiveLinkPaths(const QList<ArchiveEntry>& entries)
{
    QSet<QString> links;
    for (const ArchiveEntry& entry : entries) {
        if (entry.stored.isSymLink())
            links.insert(foldedPath(entry.parts, entry.parts.size()));
    }
    return links;
}

// Reads every link's target and judges it; the names of links that lead outside are
// added to outside. False when a target cannot be read.
bool judgeLinkTargets(ZipArchive& archive, int destination, QHash<qsizetype, QByteArray>& targets, QStringList& outside)
{
    const QList<ArchiveEntry>& entries = archive.entries();
    const QSet<QString> links = archiveLinkPaths(entries);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ArchiveEntry& entry = entries.at(i);
        if (!entry.stored.isSymLink())
            continue;
        if (entry.stored.size > maxLinkTargetSize || entry.parts.isEmpty()) {
            outside.append(entry.stored.displayName());
            continue;
        }
        QByteArray target;
        const ZipEntryReader::Result read = archive.read(entry, [&target](const char* data, qsizetype size) {
            target.append(data, size);
            return true;
        });
        if (read != ZipEntryReader::Complete)
            return false;
        if (!linkTargetInside(entry, target, links, destination))
            outside.append(entry.stored.displayName());
        targets.insert(i, target);
    }
    return true;
}

qint64 declaredSize(const QList<ArchiveEntry>& entries)
{
    qint64 total = 0;
    for (const ArchiveEntry& entry : entries)
        total += entry.stored.isDir() ? 0 : entry.stored.size;
    return total;
}

// Folders first, then files, then links, then the folders' own modes (a read-only folder
// would refuse its files).
bool writeEntries(ZipArchive& archive, ArchiveWriter& writer, const QHash<qsizetype, QByteArray>& targets,
                  const QString& zipPath)
{
    const QList<ArchiveEntry>& entries = archive.entries();
    for (const ArchiveEntry& entry : entries) {
        // The destination itself belongs to the caller, not to the archive.
        if (entry.stored.isDir() && !entry.parts.isEmpty() && !writer.makeFolder(entry.parts, true)) {
            QLOG_ERROR() << "[ArchiveExtraction] cannot write entry, archive not unpacked:" << zipPath
                         << entry.stored.displayName() << qt_error_string(errno);
            return false;
        }
    }
    for (const ArchiveEntry& entry : entries) {
        if (!entry.stored.isFile())
            continue;
        const ArchiveWriter::Result written =
            entry.parts.isEmpty() ? ArchiveWriter::NotCreated : writer.writeFile(archive, entry, true);
        if (written == ArchiveWriter::Damaged) {
            QLOG_ERROR() << "[ArchiveExtraction] damaged entry, archive not unpacked:" << zipPath
                         << entry.stored.displayName();
            return false;
        }
        if (written != ArchiveWriter::Written) {
            QLOG_ERROR() << "[ArchiveExtraction] cannot write entry, archive not unpacked:" << zipPath
                         << entry.stored.displayName() << qt_error_string(errno);
            return false;
        }
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).stored.isSymLink() && !writer.makeLink(entries.at(i).parts, targets.value(i))) {
            QLOG_ERROR() << "[ArchiveExtraction] cannot write entry, archive not unpacked:" << zipPath
                         << entries.at(i).stored.displayName() << qt_error_string(errno);
            return false;
        }
    }
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        const ArchiveEntry& entry = entries.at(i);
        if (entry.stored.isDir() && !entry.parts.isEmpty())
            writer.setFolderMode(entry.parts, entry.stored.permissions());
    }
    return true;
}

} // namespace

UniqueFd openDestination(const QString& path)
{
    return UniqueFd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

qint64 freeSpaceFor(const QString& path)
{
    QString existing = QFileInfo(path).absoluteFilePath();
    struct statvfs status;
    while (::statvfs(QFile::encodeName(existing).constData(), &status) != 0) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            return 0;
        existing = parent;
    }
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

QStringList entriesOutsideDestination(const QList<ArchiveEntry>& entries, int destination)
{
    const QSet<QString> archiveLinks = archiveLinkPaths(entries);
    QStringList outside;
    for (const ArchiveEntry& entry : entries) {
        const QByteArray& name = entry.stored.name;
        bool unsafe = isAbsoluteName(name) || hasDotDotPart(name);
        // A link itself is judged by its target; what is written through a link (its
        // parent folders, or the entry's own place for folders and files) is refused here.
        const qsizetype checked = entry.stored.isSymLink() ? entry.parts.size() - 1 : entry.parts.size();
        for (qsizetype count = 1; !unsafe && count <= checked; ++count)
            unsafe = archiveLinks.contains(foldedPath(entry.parts, count));
        // A link already in the destination is replaced by a file or link of the same
        // name, but nothing goes into it.
        const qsizetype existingChecked = entry.stored.isDir() ? checked : entry.parts.size() - 1;
        unsafe = unsafe || existingLinkOnPath(destination, entry.parts, existingChecked);
        if (unsafe)
            outside.append(entry.stored.displayName());
    }
    return outside;
}

bool extractZipToPath(const QString& zipPath, const QString& destPath)
{
    ZipArchive archive(zipPath);
    switch (archive.status()) {
    case ZipArchive::Opened: break;
    // As for any file that holds no archive, such as the running program itself.
    case ZipArchive::Missing:
    case ZipArchive::NotAnArchive: return false;
    case ZipArchive::NotRegularFile:
        QLOG_ERROR() << "[ArchiveExtraction] refused archive that is not a regular file:" << zipPath;
        return false;
    case ZipArchive::Unreadable:
        QLOG_ERROR() << "[ArchiveExtraction] refused archive whose entries cannot be read:" << zipPath;
        return false;
    }

    // The archive is downloaded: judge every entry before anything is written, and refuse
    // the archive whole rather than let an entry escape.
    UniqueFd destination = openDestination(destPath);
    if (!destination.isValid() && errno != ENOENT) {
        if (QFileInfo(destPath).isSymLink()) {
            QLOG_ERROR() << "[ArchiveExtraction] refused destination that is a symbolic link:" << destPath;
        }
        return false;
    }
    QStringList outside = entriesOutsideDestination(archive.entries(), destination.get());
    QHash<qsizetype, QByteArray> targets;
    if (!judgeLinkTargets(archive, destination.get(), targets, outside)) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive whose entries cannot be read:" << zipPath;
        return false;
    }
    if (!outside.isEmpty()) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive with entries outside the destination:" << zipPath
                     << outside;
        return false;
    }
    const qint64 needed = declaredSize(archive.entries());
    const qint64 available = freeSpaceFor(destPath);
    if (needed > available) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive larger than the free space of its destination:" << zipPath
                     << needed << available;
        return false;
    }

    if (!destination.isValid()) {
        if (!QDir(destPath).mkpath(QStringLiteral(".")))
            return false;
        destination = openDestination(destPath);
        if (!destination.isValid())
            return false;
    }
    ArchiveWriter writer(destination.get());
    if (!writeEntries(archive, writer, targets, zipPath)) {
        writer.removeWritten();
        return false;
    }
    return true;
}

void forceRemoveDir(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty() || name == "." || name == "..")
        return;
    const UniqueFd parent(
        ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.isValid())
        FolderTree::removeEntry(parent.get(), name);
}
