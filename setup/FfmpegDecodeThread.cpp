#include "FfmpegDecodeThread.h"

#include "FolderTree.h"
#include "Locations.h"
#include "QuilmLog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {
constexpr int kFfmpegTimeoutMs = 60000;
}

FfmpegDecodeThread::FfmpegDecodeThread(QObject* parent)
    : QThread(parent)
    , stopDecoding(false)
{
}

FfmpegDecodeThread::~FfmpegDecodeThread()
{
    // The video in hand is finished before the thread ends.
    stopDecoding = true;
    wait();
}

void FfmpegDecodeThread::setVideoList(const QList<VideoDecodeInfo>& list)
{
    videoList = list;
}

void FfmpegDecodeThread::addVideoInfo(const VideoDecodeInfo& info)
{
    videoList.append(info);
}

void FfmpegDecodeThread::setSourceFolder(const QString& folder)
{
    sourceFolder = folder;
}

UniqueFd FfmpegDecodeThread::openVideoFolder(const QString& videoPath, QByteArray& name) const
{
    const QString root = sourceFolder.isEmpty() ? QFileInfo(videoPath).path() : sourceFolder;
    const QString relative = QDir(root).relativeFilePath(videoPath);
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (QDir::isAbsolutePath(relative) || parts.contains(QStringLiteral("..")) || parts.contains(QString()))
        return UniqueFd();

    UniqueFd folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype i = 0; folder.isValid() && i + 1 < parts.size(); ++i)
        folder = FolderTree::openFolder(folder.get(), QFile::encodeName(parts.at(i)));
    name = QFile::encodeName(parts.last());
    return folder;
}

bool FfmpegDecodeThread::isVideoSource(const QString& videoPath) const
{
    QByteArray name;
    const UniqueFd folder = openVideoFolder(videoPath, name);
    struct stat status;
    return folder.isValid() && ::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
           && S_ISREG(status.st_mode);
}

void FfmpegDecodeThread::removeVideoSource(const QString& videoPath) const
{
    QByteArray name;
    const UniqueFd folder = openVideoFolder(videoPath, name);
    struct stat status;
    if (folder.isValid() && ::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(status.st_mode))
        ::unlinkat(folder.get(), name.constData(), 0);
}

void FfmpegDecodeThread::run()
{
    // The progress signal counts in int; a theme holds a handful of videos.
    const int total = static_cast<int>(videoList.size());
    for (int i = 0; i < total && !stopDecoding; ++i) {
        const VideoDecodeInfo video = videoList.at(i);
        emit decodeStarted(video.videoPath);

        const bool ok = decodeVideo(video);
        // A failed video keeps its source, so the next run decodes it again. What a
        // link has come to stand for in the meantime is not a source of this tree.
        if (ok)
            removeVideoSource(video.videoPath);

        emit decodeFinished(video.videoPath, ok);
        emit decodeProgress(i + 1, total, video.videoPath);
    }
    emit allDecodeFinished();
}

bool FfmpegDecodeThread::decodeVideo(const VideoDecodeInfo& video)
{
    if (!isVideoSource(video.videoPath)) {
        qDebug() << "Video file does not exist:" << video.videoPath;
        return false;
    }

    if (!QDir(video.outputDir).exists() && !QDir().mkpath(video.outputDir)) {
        QLOG_ERROR() << "Failed to create target directory:" << video.outputDir;
        return false;
    }

    QList<QString> arguments;
    const QString program = buildFfmpegCommand(video, arguments);
    if (program.isEmpty()) {
        QLOG_ERROR() << "Failed to build FFmpeg command";
        return false;
    }

    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForFinished(kFfmpegTimeoutMs)) {
        QLOG_ERROR() << "FFmpeg process timed out or failed to start";
        return false;
    }

    process.readAllStandardOutput();
    const QByteArray errorOutput = process.readAllStandardError();
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;

    QLOG_ERROR() << "FFmpeg process failed, exitCode:" << process.exitCode() << "exitStatus:" << process.exitStatus()
                 << "error:" << errorOutput;
    return false;
}

QString FfmpegDecodeThread::buildFfmpegCommand(const VideoDecodeInfo& video, QList<QString>& arguments)
{
    arguments.clear();
    if (video.videoPath.isEmpty() || video.outputDir.isEmpty() || video.outputPattern.isEmpty()) {
        QLOG_ERROR() << "FfmpegDecodeThread::buildFfmpegCommand cmd empty";
        return QString();
    }

    QString outputPath = video.outputDir;
    if (!outputPath.endsWith(QLatin1Char('/')) && !outputPath.endsWith(QLatin1Char('\\')))
        outputPath += QLatin1Char('/');
    outputPath += video.outputPattern;

    QString program;
    const QString bundledFfmpeg = QString("%1/Contents/MacOS/ffmpeg").arg(getMainFolder());
    if (QFile::exists(bundledFfmpeg)) {
        program = bundledFfmpeg;
        QLOG_INFO() << "[FfmpegDecodeThread] ensuring ffmpeg is executable:" << bundledFfmpeg;
        QFile::setPermissions(bundledFfmpeg, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                 | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                 | QFileDevice::ReadOther | QFileDevice::ExeOther);
    } else {
        QLOG_INFO() << "Bundled ffmpeg not found at" << bundledFfmpeg << ", falling back to system PATH";
        program = QStringLiteral("ffmpeg");
    }

    arguments << QStringLiteral("-i") << video.videoPath << QStringLiteral("-vf") << QString("fps=%1").arg(video.fps)
              << QStringLiteral("-vframes") << QString("%1").arg(video.frameCount) << QStringLiteral("-start_number")
              << QStringLiteral("0") << outputPath;

    QString commandText = program;
    for (const QString& argument : arguments)
        commandText += QString(" \"%1\"").arg(argument);
    QLOG_INFO() << "[FfmpegDecodeThread] Full command:" << commandText;

    return program;
}
