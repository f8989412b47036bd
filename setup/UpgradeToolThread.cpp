#include "UpgradeToolThread.h"

#include "ArchiveExtraction.h"
#include "FfmpegDecodeThread.h"
#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "Settings.h"
#include "UpgradeFileCopy.h"
#include "Versions.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QUuid>
#include <QtGui/private/qzipreader_p.h>

#include <algorithm>
#include <cerrno>
#include <memory>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

// Every worker that exists; the window hands its worker to deferred deletion only.
struct WorkerList
{
    QMutex mutex;
    QList<UpgradeToolThread*> workers;
};

WorkerList& workerList()
{
    static WorkerList list;
    return list;
}

} // namespace

UpgradeToolThread::UpgradeToolThread()
    : QThread(nullptr)
    // run() sets these again in its first step; they start defined all the same.
    , m_progress(0.0)
    , m_progressTotal(1000.0)
    , m_videoCount(0)
{
    const QMutexLocker lock(&workerList().mutex);
    workerList().workers.append(this);
}

UpgradeToolThread::~UpgradeToolThread()
{
    const QMutexLocker lock(&workerList().mutex);
    workerList().workers.removeOne(this);
}

void UpgradeToolThread::waitForRunningWorkers()
{
    QList<UpgradeToolThread*> workers;
    {
        const QMutexLocker lock(&workerList().mutex);
        workers = workerList().workers;
    }
    // Workers are created and deleted on the GUI thread only, which is the one waiting here.
    for (UpgradeToolThread* worker : std::as_const(workers))
        worker->wait();
}

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
    // One absolute destination for the targets and the checks: folders are created one
    // level at a time, which a relative path would place under themselves.
    const QString dest = QFileInfo(destPath).absoluteFilePath();

    // Entries whose stored names cannot be read cannot be judged: none is taken.
    const std::optional<QList<ArchiveEntry>> read = readArchiveEntries(*reader);
    if (!read) {
        QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles cannot read the entry names of" << zipPath;
    }
    const QList<ArchiveEntry> entries = read.value_or(QList<ArchiveEntry>());
    QList<ArchiveEntry> selected;
    for (const ArchiveEntry& entry : entries) {
        if (entry.info.isDir
            || (entry.info.isFile && entry.path.contains(QStringLiteral(".mp4"), Qt::CaseInsensitive)))
            selected.append(entry);
    }
    const int count = selected.size();
    QLOG_INFO() << QStringLiteral("[UpgradeToolThread] start unZipResourceFiles, and fileCount = %1").arg(count);

    // Links are never created here, but one already under the destination could still lead out.
    const QStringList outsideList = entriesOutsideDestination(entries, dest);
    const QSet<QString> outside(outsideList.cbegin(), outsideList.cend());

    for (const ArchiveEntry& entry : selected) {
        if (entry.path.startsWith(QStringLiteral("__MACOSX")))
            continue;
        if (outside.contains(entry.storedName)) {
            QLOG_ERROR() << "[UpgradeToolThread] unZipResourceFiles skipped entry outside destination:"
                         << entry.storedName;
            continue;
        }
        // The zip reader lists names with leading "." and "/" dropped but finds data only
        // by the stored name: write each entry under its own path with its own data.
        const QString target = QDir::cleanPath(dest + QStringLiteral("/") + entry.path);
        if (entry.info.isFile && !entry.info.isDir) {
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                QLOG_INFO() << QStringLiteral("[UpgradeToolThread] unZipResourceFiles create dest file %1 failed with %2")
                                   .arg(target)
                                   .arg(errno);
                continue;
            }
            file.write(reader->fileData(entry.storedName));
            file.close();
            if (!QFile::setPermissions(target, entry.info.permissions))
                qWarning() << "设置权限失败:" << target << ", 权限值:" << entry.info.permissions;
        } else if (entry.info.isDir) {
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

// ---- Animation decoding ----

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
        if (parseSubFolderVideoInfo(theme.absoluteFilePath(), frameFolder + QStringLiteral("/") + theme.fileName(), list)) {
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

// ---- Decision and installation ----

namespace {

const QString kBundleArchive = QStringLiteral(":/release_patch/Salvix.zip");
const char* const kSpaceText = "*****Quilm Upgrade Tool, Detected Available Size:";
constexpr qint64 kRequiredSpace = 5368709120LL; // 5 GiB

bool samePath(const QString& a, const QString& b)
{
    return QDir::toNativeSeparators(a).compare(QDir::toNativeSeparators(b), Qt::CaseInsensitive) == 0;
}

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

// Where the upgrade archive holds its Salvix Setup program, and where it is unpacked to.
const QString kUpgradeProgram = QStringLiteral("Salvix Setup.app/Contents/MacOS/Salvix Setup");

bool archiveHoldsUpgradeProgram(const QString& archive)
{
    QZipReader reader(archive, QIODevice::ReadOnly);
    const std::optional<QList<ArchiveEntry>> entries = readArchiveEntries(reader);
    return entries && std::any_of(entries->cbegin(), entries->cend(), [](const ArchiveEntry& entry) {
               return entry.info.isFile && entry.path == kUpgradeProgram;
           });
}

} // namespace

struct UpgradeToolThread::RunState
{
    QString mainFolder;
    QString runFile;
    QString runId;
    QString exeFilePath;
    QString mainExeFilePath;
    QString toUpgradePath;
    QString upgradeFileVersion;
    bool isToUpgradeTool = false;
    bool upgradePerformed = false;
    bool isDecodeVideo = false;
    // The archive that start-up accepted was unpacked whole by this run, its program with it.
    bool upgradeProgramUnpacked = false;
};

void UpgradeToolThread::run()
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
    const bool unpacked = extractZipToPath(archive, getUpgradeFolder());
    state.upgradeProgramUnpacked =
        gConfig.possible_patch_tool_to_upgrade && unpacked && archiveHoldsUpgradeProgram(archive);

    state.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    setIni(state.runFile, QString("%1/to_upgrade_file").arg(state.runId),
           QDir::toNativeSeparators(QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath()));

    state.toUpgradePath = QDir::toNativeSeparators(archive).trimmed();
    getOtherFileVersion(getUpgradeFolder() + QStringLiteral("Salvix Setup.app/Contents/Info.plist"),
                        state.upgradeFileVersion);

    QLOG_INFO() << "[UpgradeToolThread] run path:" << QCoreApplication::applicationFilePath()
                << "version:" << QCoreApplication::applicationVersion()
                << "gConfig.possible_patch_tool_to_upgrade" << gConfig.possible_patch_tool_to_upgrade;

    if (!(gConfig.possible_patch_tool_to_upgrade && !gConfig.upgrade_reminder_declined))
        state.toUpgradePath.clear();

    if (!decideAndInstall(state))
        return;

    const bool archiveExists = !state.toUpgradePath.isEmpty() && QFile::exists(state.toUpgradePath);
    QLOG_INFO() << "[UpgradeToolThread] run check updatefile or running file toUpgradePath:" << state.toUpgradePath
                << ", isToUpgradeTool:" << state.isToUpgradeTool
                << ", gConfig.to_upgrade_reminder:" << gConfig.to_upgrade_reminder
                << ", QFile::exists(toUpgradePath):" << QFile::exists(state.toUpgradePath);

    if (archiveExists && !state.isToUpgradeTool) {
        handOver(state);
        return;
    }

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
        if (!isEnoughSpace(availableSpace(kSpaceText))) {
            emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
            QLOG_INFO() << "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH";
            return;
        }
        emit sendShowProgress();
        installBundle(InstallPlace::FirstInstall);
        state.isDecodeVideo = true;
    } else if (mainParts.size() == patchParts.size() && decidedToUpgradeTool
               && checkCompareFileNewVersion(mainParts, patchParts)) {
        if (!isEnoughSpace(availableSpace(kSpaceText))) {
            emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
            return;
        }
        availableSpace(kSpaceText);
        emit sendToUpgrade();
        emit sendShowProgress();
        installBundle(InstallPlace::UpgradeByVersion);
        state.isDecodeVideo = true;
        state.upgradePerformed = true;
        state.isToUpgradeTool = true;
    }
    handOver(state);
}

bool UpgradeToolThread::decideAndInstall(RunState& state)
{
    enum class Outcome { NothingToInstall, Installed, RunningAsUpgradeFile };

    const QString appPath = QCoreApplication::applicationFilePath();
    const bool archivePresent = !state.toUpgradePath.isEmpty() && QFile::exists(state.toUpgradePath);
    const bool archiveUsable = archivePresent && !state.upgradeFileVersion.trimmed().isEmpty();
    if (archiveUsable)
        state.exeFilePath = state.toUpgradePath;

    QString mainToolVersion;
    QString patchToolVersion;
    Outcome outcome = Outcome::NothingToInstall;

    if (archiveUsable && samePath(QFileInfo(appPath).absoluteFilePath(), QFileInfo(state.toUpgradePath).absoluteFilePath())) {
        // Case B: running as the upgrade file.
        outcome = Outcome::RunningAsUpgradeFile;
    } else if (archiveUsable && samePath(appPath, state.mainExeFilePath)) {
        // Case C.
        readVersions(mainToolVersion, patchToolVersion);
        QLOG_INFO() << "[UpgradeToolThread] run upgradeFileVersion:" << state.upgradeFileVersion
                    << "upgradeToolVersion:" << patchToolVersion << "mainToolVersion:" << mainToolVersion;
        state.exeFilePath = state.mainExeFilePath;
        if (isNewer(state.upgradeFileVersion, mainToolVersion) || isNewer(patchToolVersion, mainToolVersion))
            QLOG_INFO() << "[UpgradeToolThread] macOS: reset exeFilePath to mainExeFilePath (patch tool == main tool)";
        else
            QLOG_INFO() << "[UpgradeToolThread] run mainTool while main tool is latest version";
        setProgress(100.0, true);
    } else if (archiveUsable) {
        // Case A.
        readVersions(mainToolVersion, patchToolVersion);
        setProgress(100.0, true);
        QLOG_INFO() << "[UpgradeToolThread] run mainToolVersion:" << mainToolVersion
                    << "upgradeFileVersion:" << state.upgradeFileVersion << "patchToolVersion:" << patchToolVersion;
        if (isNewer(mainToolVersion, patchToolVersion) && isNewer(state.upgradeFileVersion, patchToolVersion)) {
            QLOG_INFO() << "[UpgradeToolThread] run sendToUpgrade and unzip to dest tool while patch tool is newer";
            emit sendToUpgrade();
            QFile::remove(state.toUpgradePath);
            if (!isEnoughSpace(availableSpace(kSpaceText))) {
                emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
                QLOG_INFO() << "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH 2";
                return false;
            }
            emit sendShowProgress();
            installBundle(InstallPlace::CaseA);
            outcome = Outcome::Installed;
        }
    } else if (gConfig.possible_patch_tool_to_upgrade && archivePresent) {
        // Case D1: the accepted archive stays where it is.
        readVersions(mainToolVersion, patchToolVersion);
        QLOG_INFO() << "[UpgradeToolThread] macOS same-binary upgrade check: mainToolVersion:" << mainToolVersion
                    << "patchToolVersion:" << patchToolVersion << "upgradeFileVersion:" << state.upgradeFileVersion;
        if (isNewer(mainToolVersion, patchToolVersion)) {
            state.exeFilePath = state.mainExeFilePath;
            emit sendToUpgrade();
            emit sendShowProgress();
            if (!isEnoughSpace(availableSpace("[UpgradeToolThread] macOS same-binary upgrade, Available Space:"))) {
                emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
                return false;
            }
            installBundle(InstallPlace::CaseD1);
            outcome = Outcome::Installed;
        }
    } else if (!samePath(appPath, state.mainExeFilePath)) {
        // Case D2.
        readVersions(mainToolVersion, patchToolVersion);
        setProgress(100.0, true);
        QLOG_INFO() << "[UpgradeToolThread] run mainToolVersion:" << mainToolVersion
                    << "patchToolVersion:" << patchToolVersion;
        if (!gConfig.upgrade_reminder_declined && isNewer(mainToolVersion, patchToolVersion)) {
            QLOG_INFO() << "[UpgradeToolThread] run sendToUpgrade and unzip to dest tool while patch tool is newer";
            emit sendToUpgrade();
            if (!isEnoughSpace(availableSpace(kSpaceText))) {
                emit sendToUpgradeStatus(UPGRADE_SPACE_NOT_ENOUCH);
                QLOG_INFO() << "UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH 1";
                return false;
            }
            emit sendShowProgress();
            installBundle(InstallPlace::CaseD2);
            outcome = Outcome::Installed;
        }
    }

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

void UpgradeToolThread::installBundle(InstallPlace place)
{
    QString zip = kBundleArchive;
    QString dest = getSystemFolder();
    const QString img = getImageFolder();

    // Each place has its own marks in the log, and some places none.
    QString marks;
    if (place == InstallPlace::CaseA)
        marks = QStringLiteral("****");
    else if (place == InstallPlace::CaseD2)
        marks = QStringLiteral("***");
    else if (place == InstallPlace::FirstInstall)
        marks = QStringLiteral("*");
    const QByteArray deleteText = (marks + QStringLiteral("Quilm Upgrade Tool, start delete dir getImageFolder():")).toUtf8();
    const QByteArray unzipText = (marks + QStringLiteral("Quilm Upgrade Tool, start unZipResourceFiles:")).toUtf8();

    if (!marks.isEmpty()) {
        QLOG_INFO() << deleteText.constData() << img;
    }
    forceRemoveDir(img);
    if (place == InstallPlace::CaseD2 || place == InstallPlace::FirstInstall) {
        QLOG_INFO() << unzipText.constData() << zip << ", to" << dest;
    }

    unZipResourceFiles(zip, dest, false);
    setProgress(400.0, false);
    decodeAnimate();
    setProgress(700.0, false);

    if (place == InstallPlace::CaseA || place == InstallPlace::CaseD1 || place == InstallPlace::UpgradeByVersion)
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

// ---- Hand-over to the installed application ----

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
    return getIni(getAppSupportFolder() + QStringLiteral("/smart.ini"), QStringLiteral("Tool/LaunchSourceName"), QString());
}

// An earlier Salvix Setup is replaced by the Salvix Setup of the accepted upgrade, as
// this run unpacked it into the "Upgrade" folder; never by the archive, which is no
// program, nor by a copy that a rejected archive or an earlier run left there. Without
// an unpacked upgrade it stays as it is.
void replaceEarlierSetup(const QString& launchSourcePath, bool upgradeProgramUnpacked)
{
    QString source = getUpgradeFolder() + QLatin1Char('/') + kUpgradeProgram;
    if (!QFileInfo(source).isFile())
        return;
    if (!upgradeProgramUnpacked) {
        QLOG_WARN() << "[UpgradeToolThread] earlier Salvix Setup kept," << source
                    << "is not the program of an upgrade archive accepted in this run";
        return;
    }
    QString target = launchSourcePath;
    copyToUpgradeFileToPatchTool(target, source);
}

} // namespace

void UpgradeToolThread::handOver(RunState& state)
{
    QLOG_INFO() << "*****Quilm Upgrade Tool, isDecodeVideo:" << state.isDecodeVideo;
    if (!state.isDecodeVideo)
        decodeAnimate();

    setProgress(900.0, true);
    for (int tick = 0; tick < 10; ++tick)
        progressTick(20);

    int separator = state.exeFilePath.lastIndexOf(QLatin1Char('\\'));
    if (separator < 0)
        separator = state.exeFilePath.lastIndexOf(QLatin1Char('/'));
    const QString programFolder = separator >= 0 ? state.exeFilePath.left(separator) : state.exeFilePath;

    QLOG_INFO() << "[UpgradeToolThread] judge is delete_upgrade_file or launch_salvix";
    QLOG_INFO() << "[UpgradeToolThread] , upgradePerformed:" << state.upgradePerformed;
    QLOG_INFO() << "[UpgradeToolThread] , isToUpgradeTool:" << state.isToUpgradeTool;
    QLOG_INFO() << "[UpgradeToolThread] , gConfig.is_upgrade_tool:" << gConfig.is_upgrade_tool;
    QLOG_INFO() << "[UpgradeToolThread] exeFilePath:" << state.exeFilePath;
    QLOG_INFO() << "[UpgradeToolThread] mainExeFilePath:" << state.mainExeFilePath;
    QLOG_INFO() << "[UpgradeToolThread] toUpgradePath:" << state.toUpgradePath;

    QStringList arguments;
    bool launchSourceKnown = false;
    if (state.upgradePerformed || state.isToUpgradeTool || gConfig.is_upgrade_tool) {
        arguments << programFolder << QStringLiteral("delete_upgrade_file");
        const QString configLaunchToolPath = launchSourcePath();
        launchSourceKnown = !configLaunchToolPath.isEmpty();
        const QString source = QDir::toNativeSeparators(getToUpgradeFilePath()).trimmed();
        QLOG_INFO() << "[UpgradeToolThread] run ready copy configLaunchToolPath:" << configLaunchToolPath
                    << ", and toUpgradePath:" << source;
        replaceEarlierSetup(configLaunchToolPath, state.upgradeProgramUnpacked);
    } else {
        arguments << programFolder << QStringLiteral("launch_salvix");
    }

    if ((gConfig.possible_patch_tool_to_upgrade && !samePath(state.exeFilePath, state.toUpgradePath))
        || (gConfig.to_upgrade_reminder && !samePath(state.exeFilePath, state.mainExeFilePath)))
        emit sendShowProgress();

    QThread::msleep(300);
    QProcess::startDetached(state.exeFilePath, arguments, QString());
    QThread::msleep(300);

    bool isToolLaunched = checkQuilmTolvaneRunning(state.exeFilePath);
    if (!isToolLaunched) {
        if (state.upgradePerformed || state.isToUpgradeTool) {
            for (int pass = 1; pass <= 100; ++pass) {
                progressTick(8);
                if (checkQuilmTolvaneRunning(state.exeFilePath)) {
                    isToolLaunched = true;
                    break;
                }
                if (pass <= 98 && !markerNamesArchive(state.runFile, state.runId, state.toUpgradePath))
                    break;
            }
        } else {
            for (int pass = 0; pass < 20; ++pass) {
                progressTick(40);
                if (checkQuilmTolvaneRunning(state.exeFilePath)) {
                    isToolLaunched = true;
                    break;
                }
            }
        }
    }

    if (!isToolLaunched) {
        if (samePath(state.toUpgradePath, state.exeFilePath) && QFile::exists(state.toUpgradePath))
            QFile::remove(state.toUpgradePath);
        QLOG_INFO() << "[UpgradeToolThread] run launch failed and retry launch old main tool version";
        QProcess::startDetached(state.mainExeFilePath, {state.mainFolder, QStringLiteral("launch_salvix")}, QString());
    }

    QLOG_INFO() << "[UpgradeToolThread] run copyToUpgradeFileToPatchTool called, and upgradePerformed = "
                << state.upgradePerformed << ", isToUpgradeTool = " << state.isToUpgradeTool
                << ", and isToolLaunched = " << isToolLaunched;

    if ((state.upgradePerformed || state.isToUpgradeTool) && isToolLaunched && !launchSourceKnown) {
        const QString configLaunchToolPath = launchSourcePath();
        if (!configLaunchToolPath.isEmpty()) {
            const QString source = QDir::toNativeSeparators(getToUpgradeFilePath()).trimmed();
            QLOG_INFO() << "[UpgradeToolThread] run try copy configLaunchToolPath:" << configLaunchToolPath
                        << ", and toUpgradePath:" << source;
            replaceEarlierSetup(configLaunchToolPath, state.upgradeProgramUnpacked);
        }
    }

    removeRunMarker(state.runFile, state.runId);

    emit sendProgress(1000, 1000);
    QThread::msleep(50);
    emit sendFinish(isToolLaunched);
    QLOG_INFO() << "UpgradeToolThread::run() finished";
}
