// Extraction of archives by the worker: the whole bundle through "ditto", or only its
// folders and videos.

#include "UpgradeToolThread.h"

#include "ArchiveExtraction.h"
#include "ArchiveWriter.h"
#include "QuilmLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryFile>

#include <cerrno>
#include <memory>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

void UpgradeToolThread::unZipResourceMainTool()
{
    QLOG_INFO() << "[UpgradeToolThread] unZipResourceMainTool: skipped on macOS (ZIP contains full app bundle)";
}

void UpgradeToolThread::unZipResourceFiles(QString& zipPath, QString& destPath, bool unzipVideoFileOnly)
{
    if (zipPath.isEmpty())
        return;
    QLOG_INFO() << QStringLiteral("[UpgradeToolThread] start unZipResourceFiles from %1 to %2, unzipVideoFileOnly=%3")
                       .arg(zipPath, destPath, unzipVideoFileOnly ? QStringLiteral("1") : QStringLiteral("0"));
    if (!QFileInfo(zipPath).exists()) {
        QLOG_INFO() << "[UpgradeToolThread] unZipResourceFiles file not exists:" << zipPath;
        return;
    }
    if (unzipVideoFileOnly) {
        extractSelectedEntries(zipPath, destPath);
        return;
    }

    QDir dest(destPath);
    if (!dest.exists())
        dest.mkpath(QStringLiteral("."));

    // "ditto" cannot read Qt resources: a compiled-in archive goes through a temporary copy.
    QString source = zipPath;
    std::unique_ptr<QTemporaryFile> copy;
    if (zipPath.startsWith(QStringLiteral(":/"))) {
        QFile resource(zipPath);
        if (!resource.open(QIODevice::ReadOnly)) {
            QLOG_ERROR() << "[UpgradeToolThread] failed to open Qt resource:" << zipPath;
            return;
        }
        copy = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/quilm_zip_XXXXXX.zip"));
        if (!copy->open()) {
            QLOG_ERROR() << "[UpgradeToolThread] failed to create temp file for ditto";
            return;
        }
        copy->write(resource.readAll());
        copy->flush();
        resource.close();
        source = copy->fileName();
        QLOG_INFO() << "[UpgradeToolThread] copied Qt resource to temp file:" << source;
    }

    const int status =
        QProcess::execute(QStringLiteral("ditto"), {QStringLiteral("-x"), QStringLiteral("-k"), source, destPath});
    copy.reset();

    if (status == 0)
        QLOG_INFO() << "[UpgradeToolThread] ditto unzip succeeded:" << source;
    else
        QLOG_ERROR() << "[UpgradeToolThread] ditto unzip failed, ret=" << status << ", src=" << source;
}

void UpgradeToolThread::extractSelectedEntries(const QString& zipPath, const QString& destPath)
{
    QLOG_INFO() << "[UpgradeToolThread] unzipVideoFileOnly=true, falling back to QZipReader for selective extract";
    ZipArchive archive(zipPath);
    // Entries whose stored names cannot be read cannot be judged: none is taken.
    if (archive.status() != ZipArchive::Opened) {
        QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles cannot read the entry names of" << zipPath;
    }
    const QList<ArchiveEntry>& entries = archive.entries();
    QList<ArchiveEntry> selected;
    qint64 selectedSize = 0;
    for (const ArchiveEntry& entry : entries) {
        const bool video = entry.stored.isFile()
                           && QString::fromUtf8(entry.path()).contains(QStringLiteral(".mp4"), Qt::CaseInsensitive);
        if (entry.stored.isDir() || video) {
            selected.append(entry);
            selectedSize += video ? entry.stored.size : 0;
        }
    }
    const qsizetype count = selected.size();
    QLOG_INFO() << QStringLiteral("[UpgradeToolThread] start unZipResourceFiles, and fileCount = %1").arg(count);

    // Links are never created here, but one already under the destination could still lead out.
    const UniqueFd destination = openDestination(destPath);
    const int destinationError = errno;
    const QStringList outsideList = entriesOutsideDestination(entries, destination.get());
    const QSet<QString> outside(outsideList.cbegin(), outsideList.cend());
    if (selectedSize > freeSpaceFor(destPath)) {
        QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles refused, the selected entries are larger than the "
                        "free space of"
                     << destPath;
        selected.clear();
    }

    // Targets for the log lines only: every place is reached from the destination's descriptor.
    const QString dest = QFileInfo(destPath).absoluteFilePath();
    ArchiveWriter writer(destination.get());
    for (const ArchiveEntry& entry : std::as_const(selected)) {
        if (entry.path().startsWith("__MACOSX"))
            continue;
        if (outside.contains(entry.stored.displayName())) {
            QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles skipped entry outside destination:"
                         << entry.stored.displayName();
            continue;
        }
        if (entry.parts.isEmpty())
            continue; // the destination itself
        const QString target = QDir::cleanPath(dest + QStringLiteral("/") + QString::fromUtf8(entry.path()));
        if (entry.stored.isFile()) {
            errno = destinationError;
            const ArchiveWriter::Result written =
                destination.isValid() ? writer.writeFile(archive, entry, false) : ArchiveWriter::NotCreated;
            if (written == ArchiveWriter::NotCreated) {
                QLOG_INFO() << QStringLiteral(
                                   "[UpgradeToolThread] unZipResourceFiles create dest file %1 failed with %2")
                                   .arg(target)
                                   .arg(errno);
                continue;
            }
            if (written == ArchiveWriter::Damaged) {
                QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles damaged entry not kept:" << target;
                continue;
            }
            if (written == ArchiveWriter::WrittenWithoutMode)
                qWarning() << "设置权限失败:" << target << ", 权限值:" << Qt::oct << entry.stored.permissions();
        } else if (destination.isValid()) {
            writer.makeFolder(entry.parts, false);
        }
        addProgress(300.0 / count);
    }

    QLOG_INFO()
        << QStringLiteral("[UpgradeToolThread] unZipResourceFiles from %1 to %2 finished").arg(zipPath, destPath);
}
