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
        // Spelt so in the launch log's lines, which readers of the log look for.
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
    // Only logs: the bundle in the archive carries the main program already.
    void unZipResourceMainTool();

    void decodeAnimate();
    int countFilesBySuffixIterator(const QString& folder, const QString& suffix, bool recursive);
    bool parseSubFolderVideoInfo(QString themeFolder, QString frameFolder, QList<VideoDecodeInfo>& list);

    // Called queued on the GUI thread for each decoded video.
    void updateDecodeProgress(int current, int total, const QString& videoPath);

signals:
    void sendFinish(bool toolLaunched);
    void sendProgress(int total, int progress);
    // Never emitted; kept for receivers that connect to it.
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
    // Where the compiled-in bundle is installed; each place has its own log lines.
    enum class InstallPlace {
        // An upgrade archive with a readable version, older than this Salvix Setup, which
        // is newer than the installed Salvix too; the archive is deleted.
        OutdatedArchive,
        // The archive start-up accepted, its version not read; this Salvix Setup is newer
        // than the installed Salvix; the archive stays.
        UnversionedArchive,
        // No archive to use; this Salvix Setup is newer than the installed Salvix.
        NoArchive,
        // No Salvix installed.
        FirstInstall,
        // After a decision to upgrade: the installed Salvix is older than this Salvix Setup,
        // both versions of as many parts.
        UpgradeByVersion,
    };
    enum class Outcome { NothingToInstall, Installed, RunningAsArchive, SpaceStop };

    // Resets the progress, marks the run and reads what the decision needs.
    RunState startRun();
    // False when the run ended by a space stop.
    bool decideAndInstall(RunState& state);
    // This program is the installed Salvix: nothing to install.
    void keepInstalledSalvix(RunState& state);
    Outcome installOverOutdatedArchive(RunState& state);
    Outcome installBesideUnversionedArchive(RunState& state);
    Outcome installWithoutArchive();
    // After the decision: a missing Salvix is installed, an older one of the same form
    // upgraded. False when the run ended by a space stop.
    bool installMissingOrOlderSalvix(RunState& state);
    // Too little free space in "/Applications" sends status 1000 and logs stopText, when
    // given; the run then ends.
    bool enoughSpaceOrStop(const char* spaceText, const char* stopText);
    Outcome installAfterSpaceTest(InstallPlace place, const char* stopText);
    void installBundle(InstallPlace place);
    void waitWhileMainToolRuns(const QString& mainExeFilePath);

    // Starts Salvix with its command word and ends the run with sendFinish.
    void handOver(RunState& state);
    void finishFramesAndProgress(bool framesDecoded);
    static void logHandOverState(const RunState& state);
    // True when the program was seen running; otherwise the installed Salvix was started
    // without a test.
    bool launchChosenProgram(const RunState& state, const QStringList& arguments);
    // After an upgrade: up to 100 ticks, while the run marker names the archive.
    bool waitLongForLaunch(const RunState& state);
    bool waitShortForLaunch(const QString& exeFilePath);

    double m_progress;
    double m_progressTotal;
    int m_videoCount;
    QMutex m_progressMutex;
};
