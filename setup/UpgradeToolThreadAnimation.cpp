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

    QList<QList<VideoDecodeInfo>> themeLists;
    int listedCount = 0;
    const QFileInfoList themes = QDir(sourceFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& theme : themes) {
        QList<VideoDecodeInfo> list;
        if (parseSubFolderVideoInfo(theme.absoluteFilePath(), frameFolder + QStringLiteral("/") + theme.fileName(),
                                    list)) {
            themeLists.append(list);
            listedCount += list.size();
        }
    }
    // Linked folders are listed but not counted; the decoding share stays 200 at most
    // and never divides by a count that is too small.
    if (listedCount > counted) {
        const QMutexLocker lock(&m_progressMutex);
        m_videoCount = listedCount;
    }

    QList<FfmpegDecodeThread*> decoders;
    for (const QList<VideoDecodeInfo>& list : std::as_const(themeLists)) {
        auto* decoder = new FfmpegDecodeThread();
        connect(decoder, &FfmpegDecodeThread::decodeProgress, this, &UpgradeToolThread::updateDecodeProgress);
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

    const QFileInfoList videoFolders = theme.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
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
        if (QFileInfo(info.videoPath).isFile())
            list.append(info);
    }
    return !list.isEmpty();
}
