#include "UpgradeToolThread.h"

#include "ArchiveExtraction.h"
#include "QuilmLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>
#include <QTemporaryFile>
#include <QtGui/private/qzipreader_p.h>

#include <cerrno>
#include <memory>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

UpgradeToolThread::UpgradeToolThread()
    : QThread(nullptr)
    // run() sets these again in its first step; they start defined all the same.
    , m_progress(0.0)
    , m_progressTotal(1000.0)
    , m_videoCount(0)
{
}

UpgradeToolThread::~UpgradeToolThread() = default;

void UpgradeToolThread::setProgress(double value, bool send)
{
    const QMutexLocker lock(&m_progressMutex);
    m_progress = value;
    if (send)
        emit sendProgress(1000, static_cast<int>(m_progress));
}

void UpgradeToolThread::addProgress(double step)
{
    const QMutexLocker lock(&m_progressMutex);
    m_progress += step;
    emit sendProgress(1000, static_cast<int>(m_progress));
}

void UpgradeToolThread::progressTick(int step)
{
    addProgress(step);
    QThread::msleep(100);
}

void UpgradeToolThread::updateDecodeProgress(int current, int total, const QString& videoPath)
{
    Q_UNUSED(current);
    Q_UNUSED(total);
    Q_UNUSED(videoPath);
    const QMutexLocker lock(&m_progressMutex);
    // More videos can be decoded than were counted (links in the source tree); with
    // nothing counted there is no share to add.
    if (m_videoCount > 0)
        m_progress += 200.0 / static_cast<double>(m_videoCount);
    emit sendProgress(static_cast<int>(m_progressTotal), static_cast<int>(m_progress));
}

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

    const int status = QProcess::execute(QStringLiteral("ditto"), {QStringLiteral("-x"), QStringLiteral("-k"), source, destPath});
    copy.reset();

    if (status == 0)
        QLOG_INFO() << "[UpgradeToolThread] ditto unzip succeeded:" << source;
    else
        QLOG_ERROR() << "[UpgradeToolThread] ditto unzip failed, ret=" << status << ", src=" << source;
}

void UpgradeToolThread::extractSelectedEntries(const QString& zipPath, const QString& destPath)
{
    QLOG_INFO() << "[UpgradeToolThread] unzipVideoFileOnly=true, falling back to QZipReader for selective extract";
    auto reader = std::make_unique<QZipReader>(zipPath, QIODevice::ReadOnly);

    const QList<QZipReader::FileInfo> entries = reader->fileInfoList();
    QList<QZipReader::FileInfo> selected;
    for (const QZipReader::FileInfo& entry : entries) {
        if (entry.isDir
            || (entry.isFile && entry.filePath.contains(QStringLiteral(".mp4"), Qt::CaseInsensitive)))
            selected.append(entry);
    }
    const int count = selected.size();
    QLOG_INFO() << QStringLiteral("[UpgradeToolThread] start unZipResourceFiles, and fileCount = %1").arg(count);

    // Links are never created here, but one already under destPath could still lead out.
    const QStringList outsideList = entriesOutsideDestination(entries, destPath);
    const QSet<QString> outside(outsideList.cbegin(), outsideList.cend());

    for (const QZipReader::FileInfo& entry : selected) {
        if (entry.filePath.startsWith(QStringLiteral("__MACOSX")))
            continue;
        if (outside.contains(entry.filePath)) {
            QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles skipped entry outside destination:"
                         << entry.filePath;
            continue;
        }
        const QString target = QDir::cleanPath(destPath + QStringLiteral("/") + entry.filePath);
        if (entry.isFile && !entry.isDir) {
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                QLOG_INFO() << QStringLiteral("[UpgradeToolThread] unZipResourceFiles create dest file %1 failed with %2")
                                   .arg(target)
                                   .arg(errno);
                continue;
            }
            file.write(reader->fileData(entry.filePath));
            file.close();
            if (!QFile::setPermissions(target, entry.permissions))
                qWarning() << "设置权限失败:" << target << ", 权限值:" << entry.permissions;
        } else if (entry.isDir) {
            QDir dir(target);
            if (!dir.exists())
                dir.mkdir(target);
        }
        addProgress(300.0 / count);
    }

    reader->close();
    reader.reset();
    QLOG_INFO() << QStringLiteral("[UpgradeToolThread] unZipResourceFiles from %1 to %2 finished").arg(zipPath, destPath);
}

// Placeholder until the install-or-upgrade flow lands in this file.
void UpgradeToolThread::run()
{
}
