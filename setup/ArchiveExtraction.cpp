#include "ArchiveExtraction.h"

#include "QuilmLog.h"
#include "ZipCentralDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

bool isAbsoluteEntry(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))
           || (path.size() >= 2 && path.at(1) == QLatin1Char(':'));
}

// Other unpackers take "\" for a separator too.
bool hasDotDotPart(const QString& path)
{
    const QString slashed = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return slashed.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

// The parts of a stored name, without empty and "." parts.
QStringList entryParts(const QString& storedName)
{
    QStringList parts = storedName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    return parts;
}

// The name the zip reader lists for a stored name: leading "." and "/" characters and
// trailing "/" characters dropped.
QString readerName(const QString& storedName)
{
    qsizetype first = 0;
    while (first < storedName.size()
           && (storedName.at(first) == QLatin1Char('.') || storedName.at(first) == QLatin1Char('/')))
        ++first;
    qsizetype last = storedName.size();
    while (last > first && storedName.at(last - 1) == QLatin1Char('/'))
        --last;
    return storedName.mid(first, last - first);
}

// Unpacks judged entries as the zip reader's extractAll does (folders, then links, then
// files with their permissions), but each under its own path and with its own data.
// Missing parent folders are made, also for archives that list only some folders.
bool writeEntries(QZipReader& reader, const QList<ArchiveEntry>& entries, const QString& dest)
{
    const QDir dir(dest);
    for (const ArchiveEntry& entry : entries) {
        // The destination itself belongs to the caller, not to the archive.
        if (!entry.info.isDir || entry.path.isEmpty())
            continue;
        if (!dir.mkpath(entry.path) || !QFile::setPermissions(dir.filePath(entry.path), entry.info.permissions))
            return false;
    }
    for (const ArchiveEntry& entry : entries) {
        if (!entry.info.isSymLink)
            continue;
        const QString link = dir.filePath(entry.path);
        const QString target = QFile::decodeName(reader.fileData(entry.storedName));
        if (target.isEmpty() || !dir.mkpath(QFileInfo(link).path()) || !QFile::link(target, link))
            return false;
    }
    for (const ArchiveEntry& entry : entries) {
        if (!entry.info.isFile)
            continue;
        const QString path = dir.filePath(entry.path);
        QFile file(path);
        if (!dir.mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly))
            return false;
        const QByteArray data = reader.fileData(entry.storedName);
        if (file.write(data) != data.size())
            return false;
        file.setPermissions(entry.info.permissions);
    }
    return true;
}

// Deletes an entry of the tree without ever following a link: links and files are
// unlinked (never given other modes: a hard link shares its mode with a file outside),
// and only folders of the tree itself are made accessible so that their entries can go.
void removeTreeEntry(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status;
    if (::lstat(native.constData(), &status) != 0)
        return;
    if (!S_ISDIR(status.st_mode)) {
        ::unlink(native.constData());
        return;
    }

    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(AT_FDCWD, native.constData(), (status.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
    const QStringList names =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        removeTreeEntry(path + QLatin1Char('/') + name);
    ::rmdir(native.constData());
}

} // namespace

std::optional<QList<ArchiveEntry>> readArchiveEntries(QZipReader& reader)
{
    const QList<QZipReader::FileInfo> infos = reader.fileInfoList();
    const std::optional<QStringList> names = reader.device() ? storedZipEntryNames(*reader.device()) : std::nullopt;
    if (!names || names->size() != infos.size())
        return std::nullopt;
    QList<ArchiveEntry> entries;
    for (qsizetype i = 0; i < infos.size(); ++i) {
        // Both lists come from the same directory; a listed name that the reader did not
        // make of the stored one means they do not pair up.
        if (readerName(names->at(i)) != infos.at(i).filePath)
            return std::nullopt;
        entries.append({names->at(i), infos.at(i), entryParts(names->at(i)).join(QLatin1Char('/'))});
    }
    return entries;
}

QStringList entriesOutsideDestination(const QList<ArchiveEntry>& entries, const QString& destPath)
{
    QSet<QString> archiveLinks;
    for (const ArchiveEntry& entry : entries) {
        if (entry.info.isSymLink)
            archiveLinks.insert(entry.path);
    }

    QStringList outside;
    for (const ArchiveEntry& entry : entries) {
        bool unsafe = isAbsoluteEntry(entry.storedName) || hasDotDotPart(entry.storedName);
        // A link entry itself may point anywhere; only what is written through a link
        // (its parent folders, or the entry's own path for folders and files) matters.
        const QStringList parts = entryParts(entry.storedName);
        const qsizetype checked = entry.info.isSymLink ? parts.size() - 1 : parts.size();
        QString prefix;
        for (qsizetype i = 0; !unsafe && i < checked; ++i) {
            prefix = i == 0 ? parts.at(0) : prefix + QLatin1Char('/') + parts.at(i);
            unsafe = archiveLinks.contains(prefix) || QFileInfo(destPath + QLatin1Char('/') + prefix).isSymLink();
        }
        if (unsafe)
            outside.append(entry.storedName);
    }
    return outside;
}

bool extractZipToPath(const QString& zipPath, const QString& destPath)
{
    QZipReader reader(zipPath, QIODevice::ReadOnly);
    if (!reader.exists())
        return false;
    // The archive is downloaded: judge every entry before anything is written, and refuse
    // the archive whole rather than let an entry escape.
    const QString dest = QFileInfo(destPath).absoluteFilePath();
    const std::optional<QList<ArchiveEntry>> entries = readArchiveEntries(reader);
    if (!entries) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive whose entries cannot be read:" << zipPath;
        return false;
    }
    const QStringList outside = entriesOutsideDestination(*entries, dest);
    if (!outside.isEmpty()) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive with entries outside the destination:" << zipPath
                     << outside;
        return false;
    }
    QDir dir(dest);
    if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        reader.close();
        return false;
    }
    const bool extracted = writeEntries(reader, *entries, dest);
    reader.close();
    return extracted;
}

void forceRemoveDir(const QString& path)
{
    // The folder itself may be a link: only the link goes.
    if (QFileInfo(path).isSymLink()) {
        QFile::remove(path);
        return;
    }
    removeTreeEntry(path);
}
