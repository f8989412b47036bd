// The first half of the worker's run: the upgrade decision and the installation of the
// compiled-in Salvix bundle.

#include "UpgradeToolThread_p.h"

#include "ArchiveExtraction.h"
#include "FolderTree.h"
#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "Settings.h"
#include "Versions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <QUuid>

#include <algorithm>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace UpgradeToolThreadPrivate {

const QString kUpgradeProgram = QStringLiteral("Salvix Setup.app/Contents/MacOS/Salvix Setup");

bool samePath(const QString& a, const QString& b)
{
    return QDir::toNativeSeparators(a).compare(QDir::toNativeSeparators(b), Qt::CaseInsensitive) == 0;
}

} // namespace UpgradeToolThreadPrivate

using namespace UpgradeToolThreadPrivate;

namespace {

const QString kBundleArchive = QStringLiteral(":/release_patch/Salvix.zip");
const char* const kSpaceText = "*****Quilm Upgrade Tool, Detected Available Size:";
const char* const kInstallText =
    "[UpgradeToolThread] run sendToUpgrade and unzip to dest tool while patch tool is newer";
constexpr qint64 kRequiredSpace = 5368709120LL; // 5 GiB

// Logs the free space of "/Applications"; a count that cannot be determined is negative.
qint64 availableSpace(const char* logText)
{
    const qint64 bytes = QStorageInfo(getSystemFolder()).bytesAvailable();
    QLOG_INFO() << logText << bytes / 1048576 << "MB";
    return bytes;
}

bool isEnoughSpace(qint64 bytes)
{
    return bytes >= kRequiredSpace;
}

void readVersions(QString& mainToolVersion, QString& patchToolVersion)
{
    getOtherFileVersion(getMainInfoPList(), mainToolVersion);
    patchToolVersion = QCoreApplication::applicationVersion();
}

bool isNewer(QString older, QString newer)
{
    return checkCompareFileNewVersion(older, newer);
}

bool archiveHoldsUpgradeProgram(const QString& archive)
{
    ZipArchive zip(archive);
    const QList<ArchiveEntry>& entries = zip.entries();
    return std::any_of(entries.cbegin(), entries.cend(), [](const ArchiveEntry& entry) {
        return entry.stored.isFile() && entry.path() == kUpgradeProgram.toUtf8();
    });
}

// Clears the places in folder that an accepted archive unpacks into: what an earlier run
// or a rejected archive left there (a folder where the archive holds a file, read-only
// copies) must not keep the upgrade from being unpacked. Nothing is removed for an
// archive that would be refused, nor the archive and its check file.
void clearPlacesOfArchive(const QString& archive, const QString& folder)
{
    ZipArchive zip(archive);
    const UniqueFd destination = openDestination(folder);
    if (zip.status() != ZipArchive::Opened || !destination.isValid()
        || !entriesOutsideDestination(zip.entries(), destination.get()).isEmpty())
        return;
    const QByteArrayList kept{QFileInfo(archive).fileName().toUtf8(),
                              QFileInfo(checkFilePathFor(archive)).fileName().toUtf8()};
    QSet<QByteArray> places;
    for (const ArchiveEntry& entry : zip.entries()) {
        if (!entry.parts.isEmpty() && entry.parts.first() != "..")
            places.insert(entry.parts.first());
    }
    for (const QByteArray& place : std::as_const(places)) {
        if (!kept.contains(place))
            FolderTree::removeEntry(destination.get(), place);
    }
}

} // namespace

void UpgradeToolThread::run()
{
    RunState state = startRun();
    if (!decideAndInstall(state))
        return;
    if (!installMissingOrOlderSalvix(state))
        return;
    handOver(state);
}

UpgradeToolThread::RunState UpgradeToolThread::startRun()
{
    QLOG_INFO() << "UpgradeToolThread::run() entered";
    m_videoCount = 0;
    m_progressTotal = 1000.0;
    setProgress(0.0, true);
    setProgress(1.0, false);

    RunState state;
    state.mainFolder = getMainFolder();
    state.exeFilePath = state.mainExeFilePath = getMainToolPath();

    state.runFile = getConfigFilePath();
    const QString archive = getToUpgradeFilePath();
    // A present archive is unpacked again, whether start-up accepted it or not; an
    // accepted one into places cleared for it.
    if (gConfig.possible_patch_tool_to_upgrade)
        clearPlacesOfArchive(archive, getUpgradeFolder());
    const bool unpacked = extractZipToPath(archive, getUpgradeFolder());
    state.upgradeProgramUnpacked =
        gConfig.possible_patch_tool_to_upgrade && unpacked && archiveHoldsUpgradeProgram(archive);

    state.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    setIni(state.runFile, QString("%1/to_upgrade_file").arg(state.runId),
           QDir::toNativeSeparators(QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath()));

    state.toUpgradePath = QDir::toNativeSeparators(archive).trimmed();
    // No separator after "Upgrade", on purpose: the version comes from a bundle of that
    // run-together name, not from the one unpacked into the folder.
    getOtherFileVersion(getUpgradeFolder() + QStringLiteral("Salvix Setup.app/Contents/Info.plist"),
                        state.upgradeFileVersion);

    QLOG_INFO() << "[UpgradeToolThread] run path:" << QCoreApplication::applicationFilePath()
                << "version:" << QCoreApplication::applicationVersion() << "gConfig.possible_patch_tool_to_upgrade"
                << gConfig.possible_patch_tool_to_upgrade;

    if (!(gConfig.possible_patch_tool_to_upgrade && !gConfig.upgrade_reminder_declined))
        state.toUpgradePath.clear();
    return state;
}

bool UpgradeToolThread::decideAndInstall(RunState& state)
{
    const QString appPath = QCoreApplication::applicationFilePath();
    const bool archivePresent = !state.toUpgradePath.isEmpty() && QFile::exists(state.toUpgradePath);
    const bool archiveUsable = archivePresent && !state.upgradeFileVersion.trimmed().isEmpty();
    if (archiveUsable)
        state.exeFilePath = state.toUpgradePath;

    // The running program is compared with the archive by absolute paths, with the
    // installed Salvix by the paths as they are.
    Outcome outcome = Outcome::NothingToInstall;
    if (archiveUsable
        && samePath(QFileInfo(appPath).absoluteFilePath(), QFileInfo(state.toUpgradePath).absoluteFilePath()))
        outcome = Outcome::RunningAsArchive; // nothing read, nothing logged: only the wait
    else if (archiveUsable && samePath(appPath, state.mainExeFilePath))
        keepInstalledSalvix(state);
    else if (archiveUsable)
        outcome = installOverOutdatedArchive(state);
    else if (gConfig.possible_patch_tool_to_upgrade && archivePresent)
        outcome = installBesideUnversionedArchive(state);
    else if (!samePath(appPath, state.mainExeFilePath))
        outcome = installWithoutArchive();

    if (outcome == Outcome::SpaceStop)
        return false;
    if (outcome != Outcome::NothingToInstall) {
        waitWhileMainToolRuns(state.mainExeFilePath);
        state.isToUpgradeTool = true;
    }
    if (outcome == Outcome::Installed) {
        state.upgradePerformed = true;
        state.isDecodeVideo = true;
    }
    return true;
}

void UpgradeToolThread::keepInstalledSalvix(RunState& state)
{
    QString mainToolVersion;
    QString patchToolVersion;
    readVersions(mainToolVersion, patchToolVersion);
    QLOG_INFO() << "[UpgradeToolThread] run upgradeFileVersion:" << state.upgradeFileVersion
                << "upgradeToolVersion:" << patchToolVersion << "mainToolVersion:" << mainToolVersion;
    // The installed Salvix is started either way; the versions choose only the log line.
    state.exeFilePath = state.mainExeFilePath;
    if (isNewer(state.upgradeFileVersion, mainToolVersion) || isNewer(patchToolVersion, mainToolVersion))
        QLOG_INFO() << "[UpgradeToolThread] macOS: reset exeFilePath to mainExeFilePath (patch tool == main tool)";
    else
        QLOG_INFO() << "[UpgradeToolThread] run mainTool while main tool is latest version";
    setProgress(100.0, true);
}

UpgradeToolThread::Outcome UpgradeToolThread::installOverOutdatedArchive(RunState& state)
{
    QString mainToolVersion;
    QString patchToolVersion;
    readVersions(mainToolVersion, patchToolVersion);
    setProgress(100.0, true);
    QLOG_INFO() << "[UpgradeToolThread] run mainToolVersion:" << mainToolVersion
                << "upgradeFileVersion:" << state.upgradeFileVersion << "patchToolVersion:" << patchToolVersion;
    // Without an installation the archive stays the program to start: that start fails
    // and the hand-over falls back to the installed Salvix.
    if (!isNewer(mainToolVersion, patchToolVersion) || !isNewer(state.upgradeFileVersion, patchToolVersion))
        return Outcome::NothingToInstall;

    QLOG_INFO() << kInstallText;
    emit sendToUpgrade();
    // The archive goes before the space test: a space stop leaves none either.
    QFile::remove(state.toUpgradePath);
    return installAfterSpaceTest(InstallPlace::OutdatedArchive,
                                 "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH 2");
}

UpgradeToolThread::Outcome UpgradeToolThread::installBesideUnversionedArchive(RunState& state)
{
    QString mainToolVersion;
    QString patchToolVersion;
    readVersions(mainToolVersion, patchToolVersion);
    QLOG_INFO() << "[UpgradeToolThread] macOS same-binary upgrade check: mainToolVersion:" << mainToolVersion
                << "patchToolVersion:" << patchToolVersion << "upgradeFileVersion:" << state.upgradeFileVersion;
    if (!isNewer(mainToolVersion, patchToolVersion))
        return Outcome::NothingToInstall;

    state.exeFilePath = state.mainExeFilePath;
    // Here alone the window is told before the space test, and a stop logs nothing more.
    emit sendToUpgrade();
    emit sendShowProgress();
    if (!enoughSpaceOrStop("[UpgradeToolThread] macOS same-binary upgrade, Available Space:", nullptr))
        return Outcome::SpaceStop;
    installBundle(InstallPlace::UnversionedArchive);
    return Outcome::Installed;
}

UpgradeToolThread::Outcome UpgradeToolThread::installWithoutArchive()
{
    QString mainToolVersion;
    QString patchToolVersion;
    readVersions(mainToolVersion, patchToolVersion);
    setProgress(100.0, true);
    QLOG_INFO() << "[UpgradeToolThread] run mainToolVersion:" << mainToolVersion
                << "patchToolVersion:" << patchToolVersion;
    if (gConfig.upgrade_reminder_declined || !isNewer(mainToolVersion, patchToolVersion))
        return Outcome::NothingToInstall;

    QLOG_INFO() << kInstallText;
    emit sendToUpgrade();
    return installAfterSpaceTest(InstallPlace::NoArchive,
                                 "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH 1");
}

bool UpgradeToolThread::installMissingOrOlderSalvix(RunState& state)
{
    const bool archiveExists = !state.toUpgradePath.isEmpty() && QFile::exists(state.toUpgradePath);
    QLOG_INFO() << "[UpgradeToolThread] run check updatefile or running file toUpgradePath:" << state.toUpgradePath
                << ", isToUpgradeTool:" << state.isToUpgradeTool
                << ", gConfig.to_upgrade_reminder:" << gConfig.to_upgrade_reminder
                << ", QFile::exists(toUpgradePath):" << QFile::exists(state.toUpgradePath);
    if (archiveExists && !state.isToUpgradeTool)
        return true;

    // The version test below takes the value that the decision left, not this one.
    const bool decidedToUpgradeTool = state.isToUpgradeTool;
    state.isToUpgradeTool = state.isToUpgradeTool && archiveExists;
    state.exeFilePath = QDir::toNativeSeparators(state.mainExeFilePath);

    QString mainToolVersion;
    QString patchToolVersion;
    readVersions(mainToolVersion, patchToolVersion);
    QList<QString> mainParts = mainToolVersion.toLower().split(QLatin1Char('.'), Qt::KeepEmptyParts);
    QList<QString> patchParts = patchToolVersion.toLower().split(QLatin1Char('.'), Qt::KeepEmptyParts);

    if (!QDir(state.mainFolder).exists())
        QDir().mkdir(state.mainFolder);

    if (!QFile::exists(state.exeFilePath)) {
        if (installAfterSpaceTest(InstallPlace::FirstInstall,
                                  "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH")
            == Outcome::SpaceStop)
            return false;
        state.isDecodeVideo = true;
    } else if (mainParts.size() == patchParts.size() && decidedToUpgradeTool
               && checkCompareFileNewVersion(mainParts, patchParts)) {
        if (!enoughSpaceOrStop(kSpaceText, nullptr))
            return false;
        // Asked a second time only for its log line, which stays.
        availableSpace(kSpaceText);
        emit sendToUpgrade();
        emit sendShowProgress();
        installBundle(InstallPlace::UpgradeByVersion);
        state.isDecodeVideo = true;
        state.upgradePerformed = true;
        state.isToUpgradeTool = true;
    }
    return true;
}

bool UpgradeToolThread::enoughSpaceOrStop(const char* spaceText, const char* stopText)
{
    if (isEnoughSpace(availableSpace(spaceText)))
        return true;
    emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
    if (stopText) {
        QLOG_INFO() << stopText;
    }
    return false;
}

UpgradeToolThread::Outcome UpgradeToolThread::installAfterSpaceTest(InstallPlace place, const char* stopText)
{
    if (!enoughSpaceOrStop(kSpaceText, stopText))
        return Outcome::SpaceStop;
    emit sendShowProgress();
    installBundle(place);
    return Outcome::Installed;
}

void UpgradeToolThread::installBundle(InstallPlace place)
{
    QString zip = kBundleArchive;
    QString dest = getSystemFolder();
    const QString img = getImageFolder();

    // Each place has its own marks in the log, and some places none.
    QString marks;
    if (place == InstallPlace::OutdatedArchive)
        marks = QStringLiteral("****");
    else if (place == InstallPlace::NoArchive)
        marks = QStringLiteral("***");
    else if (place == InstallPlace::FirstInstall)
        marks = QStringLiteral("*");
    const QByteArray deleteText =
        (marks + QStringLiteral("Quilm Upgrade Tool, start delete dir getImageFolder():")).toUtf8();
    const QByteArray unzipText = (marks + QStringLiteral("Quilm Upgrade Tool, start unZipResourceFiles:")).toUtf8();

    if (!marks.isEmpty()) {
        QLOG_INFO() << deleteText.constData() << img;
    }
    forceRemoveDir(img);
    if (place == InstallPlace::NoArchive || place == InstallPlace::FirstInstall) {
        QLOG_INFO() << unzipText.constData() << zip << ", to" << dest;
    }

    unZipResourceFiles(zip, dest, false);
    setProgress(400.0, false);
    decodeAnimate();
    setProgress(700.0, false);

    if (place == InstallPlace::OutdatedArchive || place == InstallPlace::UnversionedArchive
        || place == InstallPlace::UpgradeByVersion)
        unZipResourceMainTool();
}

void UpgradeToolThread::waitWhileMainToolRuns(const QString& mainExeFilePath)
{
    // Salvix is never asked to quit: after about ten seconds the run goes on regardless.
    if (checkQuilmTolvaneRunning(mainExeFilePath)) {
        for (int pass = 0; pass < 100; ++pass) {
            progressTick(10);
            if (!checkQuilmTolvaneRunning(mainExeFilePath))
                break;
        }
    }
    setProgress(100.0, true);
}
