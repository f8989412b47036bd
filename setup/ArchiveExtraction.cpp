#include "ArchiveExtraction.h"

#include "QuilmLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

bool isAbsoluteEntry(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))
        || (path.size() >= 2 && path.at(1) == QLatin1Char(':'));
}

// The parts of an entry path, without empty and "." parts.
QStringList entryParts(const QString& path)
{
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    return parts;
}

} // namespace

QStringList entriesOutsideDestination(const QList<QZipReader::FileInfo>& entries, const QString& destPath)
{
    QSet<QString> archiveLinks;
    for (const QZipReader::FileInfo& entry : entries) {
        if (entry.isSymLink)
            archiveLinks.insert(entryParts(entry.filePath).join(QLatin1Char('/')));
    }

    QStringList outside;
    for (const QZipReader::FileInfo& entry : entries) {
        const QStringList parts = entryParts(entry.filePath);
        bool unsafe = isAbsoluteEntry(entry.filePath) || parts.contains(QStringLiteral(".."));
        // A link entry itself may point anywhere; only what is written through a link
        // (its parent folders, or the entry's own path for folders and files) matters.
        const int checked = entry.isSymLink ? parts.size() - 1 : parts.size();
        QString prefix;
        for (int i = 0; !unsafe && i < checked; ++i) {
            prefix = i == 0 ? parts.at(0) : prefix + QLatin1Char('/') + parts.at(i);
            unsafe = archiveLinks.contains(prefix)
                || QFileInfo(destPath + QLatin1Char('/') + prefix).isSymLink();
        }
        if (unsafe)
            outside.append(entry.filePath);
    }
    return outside;
}

bool extractZipToPath(const QString& zipPath, const QString& destPath)
{
    QZipReader reader(zipPath, QIODevice::ReadOnly);
    if (!reader.exists())
        return false;
    QDir dest(destPath);
    if (!dest.exists() && !dest.mkpath(QStringLiteral("."))) {
        reader.close();
        return false;
    }
    // The archive is downloaded: refuse it whole rather than let an entry escape.
    const QStringList outside = entriesOutsideDestination(reader.fileInfoList(), destPath);
    if (!outside.isEmpty()) {
        QLOG_ERROR() << "[ArchiveExtraction] refused archive with entries outside the destination:" << zipPath
                     << outside;
        reader.close();
        return false;
    }
    const bool extracted = reader.extractAll(destPath);
    reader.close();
    return extracted;
}

void forceRemoveDir(const QString& path)
{
    QDir dir(path);
    if (QFileInfo(path).isSymLink()) {
        QFile::remove(path);
        return;
    }
    if (dir.removeRecursively())
        return;

    // Entries of a folder without owner write (or search) permission cannot be deleted.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                    | QFileDevice::ExeOwner);
    dir.setFilter(QDir::Dirs | QDir::Files | QDir::Drives | QDir::NoDotAndDotDot);
    const QFileInfoList entries = dir.entryInfoList();
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink()) {
            // Remove the link itself: neither its target's permissions nor its content.
            QFile::remove(entry.absoluteFilePath());
        } else if (entry.isFile()) {
            QFile::setPermissions(entry.absoluteFilePath(), QFileDevice::WriteOwner);
            QFile::remove(entry.absoluteFilePath());
        } else {
            forceRemoveDir(entry.absoluteFilePath());
        }
    }
    dir.removeRecursively();
}
