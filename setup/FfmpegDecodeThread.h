#pragma once

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
    QList<VideoDecodeInfo> videoList;
    // Set by the destructor while run() may be reading it.
    std::atomic_bool stopDecoding;
};
