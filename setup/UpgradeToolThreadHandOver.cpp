// The last stage of the worker's run: Salvix is started with its command word, and an
// earlier Salvix Setup is replaced after an upgrade.

#include "UpgradeToolThread_p.h"

#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "Settings.h"
#include "UpgradeFileCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

using namespace UpgradeToolThreadPrivate;

namespace {

// The marker of this run names the archive as the program that runs.
bool markerNamesArchive(const QString& runFile, const QString& runId, const QString& toUpgradePath)
{
    const QString archive = QFileInfo(toUpgradePath).absoluteFilePath();
    QSettings settings(runFile, QSettings::IniFormat);
    settings.beginGroup(runId);
    bool found = false;
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys) {
        if (samePath(settings.value(key).toString(), archive)) {
            found = true;
            break;
        }
    }
    settings.endGroup();
    return found;
}

void removeRunMarker(const QString& runFile, const QString& runId)
{
    QSettings settings(runFile, QSettings::IniFormat);
    settings.beginGroup(runId);
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys)
        settings.remove(key);
    settings.endGroup();
}

QString launchSourcePath()
{
    return getIni(getSettingsFilePath(), QStringLiteral("Tool/LaunchSourceName"), QString());
}

// An earlier Salvix Setup is replaced by the Salvix Setup of the accepted upgrade, as
// this run unpacked it into the "Upgrade" folder; never by the archive, which is no
// program, nor by a copy that a rejected archive or an earlier run left there. Without
// an unpacked upgrade it stays as it is.
void replaceEarlierSetup(const QString& launchSourcePath, bool upgradeProgramUnpacked)
{
    QString source = getUpgradeFolder() + QLatin1Char('/') + kUpgradeProgram;
    if (!upgradeProgramUnpacked) {
        QLOG_WARN() << "[UpgradeToolThread] earlier Salvix Setup kept," << source
                    << "is not the program of an upgrade archive accepted in this run";
        return;
    }
    QString target = launchSourcePath;
    copyToUpgradeFileToPatchTool(target, source);
}

// Logs logText with the launch source and the archive, then takes the replacement step.
void replaceSetupAtLaunchSource(const char* logText, const QString& launchSource, bool upgradeProgramUnpacked)
{
    // The archive's path afresh: toUpgradePath may have been cleared.
    const QString archive = QDir::toNativeSeparators(getToUpgradeFilePath()).trimmed();
    QLOG_INFO() << logText << launchSource << ", and toUpgradePath:" << archive;
    replaceEarlierSetup(launchSource, upgradeProgramUnpacked);
}

// The folder argument: what stands before the last backslash, else before the last
// slash, else the whole path. The backslash is looked for first; keep that order.
QString programFolder(const QString& exeFilePath)
{
    qsizetype separator = exeFilePath.lastIndexOf(QLatin1Char('\\'));
    if (separator < 0)
        separator = exeFilePath.lastIndexOf(QLatin1Char('/'));
    return separator >= 0 ? exeFilePath.left(separator) : exeFilePath;
}

} // namespace

void UpgradeToolThread::handOver(RunState& state)
{
    finishFramesAndProgress(state.isDecodeVideo);
    logHandOverState(state);

    const bool upgrading = state.upgradePerformed || state.isToUpgradeTool || gConfig.is_upgrade_tool;
    const QStringList arguments{programFolder(state.exeFilePath),
                                upgrading ? QStringLiteral("delete_upgrade_file") : QStringLiteral("launch_salvix")};
    bool launchSourceKnown = false;
    if (upgrading) {
        const QString launchSource = launchSourcePath();
        launchSourceKnown = !launchSource.isEmpty();
        replaceSetupAtLaunchSource("[UpgradeToolThread] run ready copy configLaunchToolPath:", launchSource,
                                   state.upgradeProgramUnpacked);
    }

    if ((gConfig.possible_patch_tool_to_upgrade && !samePath(state.exeFilePath, state.toUpgradePath))
        || (gConfig.to_upgrade_reminder && !samePath(state.exeFilePath, state.mainExeFilePath)))
        emit sendShowProgress();

    const bool isToolLaunched = launchChosenProgram(state, arguments);
    QLOG_INFO() << "[UpgradeToolThread] run copyToUpgradeFileToPatchTool called, and upgradePerformed = "
                << state.upgradePerformed << ", isToUpgradeTool = " << state.isToUpgradeTool
                << ", and isToolLaunched = " << isToolLaunched;

    if ((state.upgradePerformed || state.isToUpgradeTool) && isToolLaunched && !launchSourceKnown) {
        const QString launchSource = launchSourcePath();
        if (!launchSource.isEmpty())
            replaceSetupAtLaunchSource("[UpgradeToolThread] run try copy configLaunchToolPath:", launchSource,
                                       state.upgradeProgramUnpacked);
    }

    removeRunMarker(state.runFile, state.runId);

    // The literal total: m_progress stays where the ticks left it.
    emit sendProgress(1000, 1000);
    QThread::msleep(50);
    emit sendFinish(isToolLaunched);
    QLOG_INFO() << "UpgradeToolThread::run() finished";
}

void UpgradeToolThread::finishFramesAndProgress(bool framesDecoded)
{
    QLOG_INFO() << "*****Quilm Upgrade Tool, isDecodeVideo:" << framesDecoded;
    if (!framesDecoded)
        decodeAnimate();

    // The ten ticks run past the total, to 1100; the window expects that.
    setProgress(900.0, true);
    for (int tick = 0; tick < 10; ++tick)
        progressTick(20);
}

void UpgradeToolThread::logHandOverState(const RunState& state)
{
    QLOG_INFO() << "[UpgradeToolThread] judge is delete_upgrade_file or launch_salvix";
    QLOG_INFO() << "[UpgradeToolThread] , upgradePerformed:" << state.upgradePerformed;
    QLOG_INFO() << "[UpgradeToolThread] , isToUpgradeTool:" << state.isToUpgradeTool;
    QLOG_INFO() << "[UpgradeToolThread] , gConfig.is_upgrade_tool:" << gConfig.is_upgrade_tool;
    QLOG_INFO() << "[UpgradeToolThread] exeFilePath:" << state.exeFilePath;
    QLOG_INFO() << "[UpgradeToolThread] mainExeFilePath:" << state.mainExeFilePath;
    QLOG_INFO() << "[UpgradeToolThread] toUpgradePath:" << state.toUpgradePath;
}

bool UpgradeToolThread::launchChosenProgram(const RunState& state, const QStringList& arguments)
{
    QThread::msleep(300);
    QProcess::startDetached(state.exeFilePath, arguments, QString());
    QThread::msleep(300);

    bool isToolLaunched = checkQuilmTolvaneRunning(state.exeFilePath);
    if (!isToolLaunched) {
        isToolLaunched = (state.upgradePerformed || state.isToUpgradeTool) ? waitLongForLaunch(state)
                                                                           : waitShortForLaunch(state.exeFilePath);
    }
    if (!isToolLaunched) {
        // An archive that was started cannot run: it goes, and the installed Salvix is
        // started plainly. That start is not tested; the window starts Salvix itself.
        if (samePath(state.toUpgradePath, state.exeFilePath) && QFile::exists(state.toUpgradePath))
            QFile::remove(state.toUpgradePath);
        QLOG_INFO() << "[UpgradeToolThread] run launch failed and retry launch old main tool version";
        QProcess::startDetached(state.mainExeFilePath, {state.mainFolder, QStringLiteral("launch_salvix")}, QString());
    }
    return isToolLaunched;
}

bool UpgradeToolThread::waitLongForLaunch(const RunState& state)
{
    for (int pass = 1; pass <= 100; ++pass) {
        progressTick(8);
        if (checkQuilmTolvaneRunning(state.exeFilePath))
            return true;
        // Passes 99 and 100 go on without the marker check; keep it so.
        if (pass <= 98 && !markerNamesArchive(state.runFile, state.runId, state.toUpgradePath))
            return false;
    }
    return false;
}

bool UpgradeToolThread::waitShortForLaunch(const QString& exeFilePath)
{
    for (int pass = 0; pass < 20; ++pass) {
        progressTick(40);
        if (checkQuilmTolvaneRunning(exeFilePath))
            return true;
    }
    return false;
}
