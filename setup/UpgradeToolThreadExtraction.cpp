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
#include <QResource>
#include <QSet>
#include <QTemporaryFile>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

constexpr qint64 kCopyPiece = 4 * 1024 * 1024;

// Whether [begin, begin + length) lies in one read-only mapping of a file, as a resource
// compiled into the program or a registered resource file does: its pages can be
// dropped and are read again from the file when needed. Without the process's map of
// its memory nothing counts as such, and the copied pages stay.
bool isReadOnlyFileMapping(const uchar* begin, qint64 length)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const auto from = reinterpret_cast<quintptr>(begin);
    const quintptr to = from + static_cast<quintptr>(length);
    // Each line: "start-end perms offset device inode [path]", numbers in hexadecimal but the inode.
    for (QByteArray line = maps.readLine(); !line.isEmpty(); line = maps.readLine()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QList<QByteArray> range = fields.value(0).split('-');
        if (fields.size() < 5 || range.size() != 2)
            continue;
        if (from >= range.at(0).toULongLong(nullptr, 16) && to <= range.at(1).toULongLong(nullptr, 16))
            return fields.at(1).startsWith("r-") && fields.at(4) != "0";
    }
    return false;
}

// Pages of the resource stay in the process once read. Those already copied are handed
// back as the copy goes on, so its memory does not grow with the archive.
void releaseCopiedPages(const uchar* begin, qint64 length)
{
    const auto page = static_cast<quintptr>(::sysconf(_SC_PAGESIZE));
    const quintptr first = (reinterpret_cast<quintptr>(begin) + page - 1) / page * page;
    const quintptr last = (reinterpret_cast<quintptr>(begin) + static_cast<quintptr>(length)) / page * page;
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

// Copies an opened resource into target piece by piece, so memory stays the same
// whatever the archive's size. A resource stored uncompressed is written straight from
// its data; a compressed one goes through a buffer. Stops at the first failed write.
void copyResource(QFile& resource, QFile& target)
{
    const QResource stored(resource.fileName());
    if (stored.compressionAlgorithm() == QResource::NoCompression && stored.data()) {
        const uchar* data = stored.data();
        const bool fileBacked = isReadOnlyFileMapping(data, stored.size());
        for (qint64 done = 0; done < stored.size();) {
            const qint64 piece = std::min(kCopyPiece, stored.size() - done);
            if (target.write(reinterpret_cast<const char*>(data + done), piece) != piece)
                return;
            if (fileBacked)
                releaseCopiedPages(data + done, piece);
            done += piece;
        }
        return;
    }
    QByteArray buffer(kCopyPiece, Qt::Uninitialized);
    for (qint64 got = resource.read(buffer.data(), kCopyPiece); got > 0;
         got = resource.read(buffer.data(), kCopyPiece)) {
        if (target.write(buffer.constData(), got) != got)
            return;
    }
}

} // namespace

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
        copyResource(resource, *copy);
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
