#pragma once

#include "UniqueFd.h"
#include "VideoDecodeInfo.h"

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>

// Runs ffmpeg once per listed video, one video after the other, on its own thread.
class FfmpegDecodeThread : public QThread
{
    Q_OBJECT

public:
    explicit FfmpegDecodeThread(QObject* parent = nullptr);
    ~FfmpegDecodeThread() override;

    // The list must be set before start().
    void setVideoList(const QList<VideoDecodeInfo>& list);
    void addVideoInfo(const VideoDecodeInfo& info);
    // The tree the videos were taken from: a video is decoded and removed only while it
    // is a regular file below it, reached without a link. Unset, each video's own folder.
    void setSourceFolder(const QString& folder);

    bool decodeVideo(const VideoDecodeInfo& video);
    QString buildFfmpegCommand(const VideoDecodeInfo& video, QList<QString>& arguments);

signals:
    void decodeStarted(const QString& videoPath);
    void decodeProgress(int current, int total, const QString& videoPath);
    void decodeFinished(const QString& videoPath, bool success);
    void allDecodeFinished();

protected:
    void run() override;

private:
    // The folder that holds the video, opened by walking down from the source tree
    // without following links; -1 when the video does not lie there. name: the file's.
    UniqueFd openVideoFolder(const QString& videoPath, QByteArray& name) const;
    bool isVideoSource(const QString& videoPath) const;
    void removeVideoSource(const QString& videoPath) const;

    QList<VideoDecodeInfo> videoList;
    QString sourceFolder;
    // Set by the destructor while run() may be reading it.
    std::atomic_bool stopDecoding;
};
