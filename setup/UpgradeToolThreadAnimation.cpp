// Decoding of the background animations into frames, one decoder thread per theme.

#include "UpgradeToolThread.h"

#include "FfmpegDecodeThread.h"
#include "Locations.h"
#include "QuilmLog.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutexLocker>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

// The sub-folders of a folder of the video source, sorted by name without regard to
// case. Links are left out: through one, a planted tree could have videos outside the
// source decoded and deleted.
QFileInfoList sourceSubFolders(const QString& folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    QFileInfoList folders;
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            QLOG_INFO() << "[UpgradeToolThread] skipped link in the video source:" << entry.absoluteFilePath();
        else
            folders.append(entry);
    }
    return folders;
}

} // namespace

void UpgradeToolThread::decodeAnimate()
{
    const QString sourceFolder = getMp4SourceFolder() + QStringLiteral("/background");
    const QString frameFolder = getImageFolder() + QStringLiteral("/background");

    const int counted = countFilesBySuffixIterator(sourceFolder, QStringLiteral("mp4"), true);
    {
        // Shares of an earlier call may still be handled on the GUI thread.
        const QMutexLocker lock(&m_progressMutex);
        m_videoCount = counted;
    }
    QLOG_INFO() << "[UpgradeToolThread] decodeAnimate try to decode video count:" << counted
                << ", mp4 source:" << sourceFolder << ", png output:" << frameFolder;

    if (!QDir(frameFolder).exists())
        QDir().mkpath(frameFolder);

    if (!QDir(sourceFolder).exists()) {
        QLOG_INFO() << "[UpgradeToolThread] decodeAnimate mp4 source folder not exists:" << sourceFolder;
        emit sendToUpgradeStatus(UPGRADE_VIDEO_SOURCE_MISSING);
        return;
    }

    // Each theme's decoder starts as soon as its folder is parsed. Only real folders and
    // files of the tree are listed, all of which the count above has seen, so the shares
    // of the decoding never add up to more than 200.
    QList<FfmpegDecodeThread*> decoders;
    for (const QFileInfo& theme : sourceSubFolders(sourceFolder)) {
        QList<VideoDecodeInfo> list;
        if (!parseSubFolderVideoInfo(theme.absoluteFilePath(), frameFolder + QStringLiteral("/") + theme.fileName(),
                                     list))
            continue;
        auto* decoder = new FfmpegDecodeThread();
        connect(decoder, &FfmpegDecodeThread::decodeProgress, this, &UpgradeToolThread::updateDecodeProgress);
        decoder->setSourceFolder(sourceFolder);
        decoder->setVideoList(list);
        decoder->start();
        decoders.append(decoder);
    }

    for (FfmpegDecodeThread* decoder : std::as_const(decoders)) {
        decoder->wait();
        decoder->deleteLater();
    }
    QLOG_INFO() << "[UpgradeToolThread] decodeAnimate decoded video count:" << decoders.size();
}

int UpgradeToolThread::countFilesBySuffixIterator(const QString& folder, const QString& suffix, bool recursive)
{
    QDirIterator it(folder, {QStringLiteral("*.") + suffix}, QDir::Files,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    int count = 0;
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

bool UpgradeToolThread::parseSubFolderVideoInfo(QString themeFolder, QString frameFolder, QList<VideoDecodeInfo>& list)
{
    const QDir theme(themeFolder);
    if (!theme.exists()) {
        QLOG_ERROR() << "[UpgradeToolThread] parseSubFolderVideoInfo folder not exists:" << themeFolder;
        return false;
    }

    const QFileInfoList videoFolders = sourceSubFolders(themeFolder);
    list.clear();
    if (!QDir(frameFolder).exists())
        QDir().mkpath(frameFolder);

    for (const QFileInfo& folder : videoFolders) {
        VideoDecodeInfo info;
        info.videoPath = QString("%1/%2.mp4").arg(folder.absoluteFilePath(), folder.fileName());
        info.fps = 24;
        info.frameCount = 72;
        info.outputDir = QString("%1/%2").arg(frameFolder, folder.fileName());
        info.outputPattern = folder.fileName() + QStringLiteral("_%05d.png");
        QLOG_INFO() << "[UpgradeToolThread] parseSubFolderVideoInfo video path:" << info.videoPath;
        const QFileInfo video(info.videoPath);
        if (video.isSymLink())
            QLOG_INFO() << "[UpgradeToolThread] skipped link in the video source:" << info.videoPath;
        else if (video.isFile())
            list.append(info);
    }
    return !list.isEmpty();
}
