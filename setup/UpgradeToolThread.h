#pragma once

#include "VideoDecodeInfo.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

// The background worker of Salvix Setup: installs or upgrades the Salvix bundle,
// decodes its animations and starts it. Progress runs on a scale of 0 to 1000.
class UpgradeToolThread : public QThread
{
    Q_OBJECT

public:
    // Values of sendToUpgradeStatus.
    enum UpgradeStatus {
        UPGRADE_SPACE_NOT_ENOUCH = 1000,
        UPGRADE_VIDEO_SOURCE_MISSING = 1001,
    };

    UpgradeToolThread();
    ~UpgradeToolThread() override;

    // Returns once every existing worker has ended its run. The logger must outlive a
    // worker that still runs after the window ended the event loop.
    static void waitForRunningWorkers();

    // Whole-archive mode hands the archive to "ditto"; the selective mode unpacks only
    // folders and videos. Neither string is changed.
    void unZipResourceFiles(QString& zipPath, QString& destPath, bool unzipVideoFileOnly);
    void unZipResourceMainTool();

    void decodeAnimate();
    int countFilesBySuffixIterator(const QString& folder, const QString& suffix, bool recursive);
    bool parseSubFolderVideoInfo(QString themeFolder, QString frameFolder, QList<VideoDecodeInfo>& list);

    // Called queued on the GUI thread for each decoded video.
    void updateDecodeProgress(int current, int total, const QString& videoPath);

signals:
    void sendFinish(bool toolLaunched);
    void sendProgress(int total, int progress);
    void sendNewProcess(QString process, QStringList parameter);
    void sendToUpgrade();
    void sendToUpgradeStatus(int status);
    void sendShowProgress();

protected:
    void run() override;

private:
    friend class TestUpgradeToolThread;

    // Every change of m_progress goes through these, under m_progressMutex, because
    // decoding updates arrive on the GUI thread while run() changes it.
    void setProgress(double value, bool send);
    void addProgress(double step);
    // Adds step, sends the value and sleeps 100 ms on the worker thread.
    void progressTick(int step);

    void extractSelectedEntries(const QString& zipPath, const QString& destPath);

    // One run's values, from the decision to the hand-over.
    struct RunState;
    enum class InstallPlace { CaseA, CaseD1, CaseD2, FirstInstall, UpgradeByVersion };
    // False when the run ended by a space stop.
    bool decideAndInstall(RunState& state);
    void installBundle(InstallPlace place);
    void waitWhileMainToolRuns(const QString& mainExeFilePath);
    void handOver(RunState& state);

    double m_progress;
    double m_progressTotal;
    int m_videoCount;
    QMutex m_progressMutex;
};
