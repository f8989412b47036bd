// The worker's whole run, driven directly: the embedded stand-in bundle is installed into
// a sandboxed "/Applications", its videos are decoded with the real ffmpeg, and the
// started stand-in Salvix is observed through the launches it records.

#include "GlobalConfig.h"
#include "Locations.h"
#include "LogCapture.h"
#include "UpgradeToolThread.h"
#include "Versions.h"
#include "WorkerFixture.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 kFiveGiB = 5368709120LL;
const QStringList kThemes{"golden_2K", "golden_4K", "light_2K", "light_4K"};
const QStringList kVideos{"InnerDisk", "PortableDrive", "Scan", "ScanThumbnail", "storageCard", "usbDrive"};

// Everything the worker signals, in the order it was emitted.
class Recorder : public QObject
{
public:
    explicit Recorder(UpgradeToolThread& worker)
    {
        connect(
            &worker, &UpgradeToolThread::sendProgress, this,
            [this](int total, int progress) {
                const QMutexLocker lock(&mutex);
                totals << total;
                this->progress << progress;
                // Decoding shares are sent on this (the GUI) thread, everything else on the worker's.
                (QThread::currentThread() == thread() ? decodingProgress : workerProgress) << progress;
            },
            Qt::DirectConnection);
        connect(
            &worker, &UpgradeToolThread::sendToUpgradeStatus, this,
            [this](int status) {
                const QMutexLocker lock(&mutex);
                statuses << status;
            },
            Qt::DirectConnection);
        connect(
            &worker, &UpgradeToolThread::sendToUpgrade, this, [this] { ++toUpgrade; }, Qt::DirectConnection);
        connect(
            &worker, &UpgradeToolThread::sendShowProgress, this, [this] { ++showProgress; }, Qt::DirectConnection);
        connect(
            &worker, &UpgradeToolThread::sendFinish, this,
            [this](bool launched) {
                const QMutexLocker lock(&mutex);
                finish << launched;
            },
            Qt::DirectConnection);
    }

    QMutex mutex;
    QList<int> totals;
    QList<int> progress;
    QList<int> workerProgress;
    QList<int> decodingProgress;
    QList<int> statuses;
    QList<bool> finish;
    QAtomicInt toUpgrade = 0;
    QAtomicInt showProgress = 0;
};

// A sandbox whose "/Applications" is a file system of the given size; processes started
// from the installed Salvix are ended by pid when it goes.
class WorkerSandbox
{
public:
    explicit WorkerSandbox(qint64 applicationsBytes)
        : applications(sandbox.applications(), applicationsBytes)
    {
    }
    ~WorkerSandbox() { WorkerFixture::endProcesses(getMainToolPath()); }

    QString launchesFile() const { return sandbox.userFolder() + "/salvix_launches.txt"; }
    QStringList launches() const
    {
        return QString::fromUtf8(Sandbox::read(launchesFile())).split('\n', Qt::SkipEmptyParts);
    }

    Sandbox sandbox;
    WorkerFixture::SizedFolder applications;
};

QList<int> handOverProgress()
{
    QList<int> values{900};
    for (int tick = 1; tick <= 10; ++tick)
        values << 900 + 20 * tick;
    return values;
}

// The decoding shares from 400 while the worker waits for the decoders; shares that are
// handled after it went on add to the value it set meanwhile, so only those up to 600
// are fixed.
bool isDecodingProgress(const QList<int>& values, int videoCount)
{
    const double share = 200.0 / videoCount;
    double progress = 400.0;
    for (int value : values) {
        progress += share;
        if (value <= 600 && value != static_cast<int>(progress))
            return false;
    }
    return values.size() == videoCount;
}

QString toText(const QList<int>& values)
{
    QStringList parts;
    for (int value : values)
        parts << QString::number(value);
    return parts.join(' ');
}

// The worker's own values against the expected ones. A share whose update the GUI thread
// handles only after the worker went on (a busy machine) adds to the values the worker
// sends from then on, so each value may exceed its expected one by the shares handled
// late so far: a whole number of shares that never shrinks until the worker sets a value
// outright (setOutright), which that value and the ones after it no longer carry.
bool isWorkerProgress(const QList<int>& values, const QList<int>& expected, const QList<bool>& setOutright,
                      int videoCount)
{
    if (values.size() != expected.size())
        return false;
    const double share = 200.0 / videoCount;
    int late = 0;
    // The worker truncates a sum of doubles, so a value lies within one of its level.
    const auto level = [&](int i, int shares) { return expected[i] + shares * share; };
    for (int i = 0; i < values.size(); ++i) {
        if (setOutright[i]) {
            late = 0;
            if (values[i] != expected[i])
                return false;
            continue;
        }
        while (late < videoCount && values[i] > level(i, late + 1) - 1.001)
            ++late;
        if (std::abs(values[i] - level(i, late)) >= 1.001)
            return false;
    }
    return true;
}

// The values of "to_upgrade_file" of every run group in "release_version.ini".
QStringList runMarkers()
{
    QSettings settings(getConfigFilePath(), QSettings::IniFormat);
    QStringList values;
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups)
        values << settings.value(group + "/to_upgrade_file").toString();
    return values;
}

QString installedVersion()
{
    QString version;
    getOtherFileVersion(getMainInfoPList(), version);
    return version;
}

// The same number of parts as the running version, every part 0: older than it.
QString olderVersion()
{
    QStringList parts = QCoreApplication::applicationVersion().split('.');
    parts.fill(QStringLiteral("0"));
    return parts.join('.');
}

// The embedded bundle, unpacked as the worker does it, with the given version.
bool installBundle(const QString& version)
{
    UpgradeToolThread unpacker;
    QString zip = QStringLiteral(":/release_patch/Salvix.zip");
    QString dest = getSystemFolder();
    unpacker.unZipResourceFiles(zip, dest, false);
    return QFile::exists(getMainToolPath()) && Sandbox::write(getMainInfoPList(), Sandbox::infoPlist(version));
}

// A one-second test video.
bool makeVideo(const QString& path)
{
    return QProcess::execute("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                        "testsrc=duration=1:size=32x24:rate=24", "-c:v", "mpeg4", path})
           == 0;
}

int countFiles(const QString& folder, const QString& pattern)
{
    int count = 0;
    QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

} // namespace

class TestUpgradeToolThreadRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firstInstallThenNothingToDecode();
    void upgradeWaitsWhileSalvixRuns();
    void declinedReminderAndLaunchNeverSeen();
    void caseAInstallsAndReplacesEarlierSetup_data();
    void caseAInstallsAndReplacesEarlierSetup();
    void caseBRunningAsTheUpgradeFile();
    void tooLittleSpaceStopsTheRun_data();
    void tooLittleSpaceStopsTheRun();
    void missingVideoSourceIsReported();
    void linkInTheSourceIsSkipped_data();
    void linkInTheSourceIsSkipped();
    void folderSwappedForALinkKeepsWhatItLeadsTo();

private:
    // Starts the worker and processes events (queued decoding updates) until run() returned.
    static bool runToEnd(UpgradeToolThread& worker);

    bool m_isolated = false;
};

void TestUpgradeToolThreadRun::initTestCase()
{
    LogCapture::install();
    QCoreApplication::setApplicationVersion(QStringLiteral(SALVIX_SETUP_VERSION));
    // The stand-in Salvix stays long enough to be seen, and is ended by pid afterwards.
    qputenv("SALVIX_STAY_SECONDS", "5");
    m_isolated = WorkerFixture::enterPrivateMountNamespace();
    if (!m_isolated)
        qWarning("no private mount namespace: \"/Applications\" is a plain folder, the space stop is not tested");
}

void TestUpgradeToolThreadRun::init()
{
    gConfig = GlobalConfig();
}

bool TestUpgradeToolThreadRun::runToEnd(UpgradeToolThread& worker)
{
    worker.start();
    QElapsedTimer timer;
    timer.start();
    while (!worker.isFinished() && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    return worker.wait(1000);
}

void TestUpgradeToolThreadRun::firstInstallThenNothingToDecode()
{
    // Exactly 5 GiB free is enough.
    WorkerSandbox box(kFiveGiB);
    QVERIFY(!m_isolated || box.applications.isMounted());
    const QString mainFolder = getMainFolder();
    const QString frames = getImageFolder() + "/background";
    LogCapture::flush();

    {
        UpgradeToolThread worker;
        Recorder record(worker);
        QVERIFY(runToEnd(worker));

        QCOMPARE(record.finish, QList<bool>{true});
        QCOMPARE(record.toUpgrade.loadRelaxed(), 0);
        QVERIFY(record.statuses.isEmpty());
        QVERIFY(record.totals.count(1000) == record.totals.size());

        // 0, the versions read, the hand-over, the final report; and the decoding shares.
        QList<int> expected{0, 100};
        expected << handOverProgress() << 1000;
        // 0, 100, the hand-over's 900 and the final report are set outright; the ticks add.
        QList<bool> setOutright(expected.size(), false);
        setOutright[0] = setOutright[1] = setOutright[2] = setOutright.last() = true;
        QVERIFY2(isWorkerProgress(record.workerProgress, expected, setOutright, 24),
                 qPrintable(toText(record.workerProgress)));
        QVERIFY(isDecodingProgress(record.decodingProgress, 24));
        QCOMPARE(record.decodingProgress.first(), 408);
    }

    // The bundle with its modes and version links.
    QCOMPARE(installedVersion(), QStringLiteral(SALVIX_SETUP_VERSION));
    QVERIFY(QFileInfo(getMainToolPath()).permissions().testFlag(QFileDevice::ExeOther));
    QVERIFY(QFileInfo(mainFolder + "/Contents/MacOS/ffmpeg").permissions().testFlag(QFileDevice::ExeOther));
    int links = 0;
    for (const QFileInfo& entry : QDir(mainFolder + "/Contents/Frameworks").entryInfoList(QDir::Files | QDir::System))
        links += entry.isSymLink() ? 1 : 0;
    QVERIFY(links > 0);

    // 24 videos, 72 frames each, the sources gone.
    for (const QString& theme : kThemes) {
        for (const QString& video : kVideos) {
            const QString folder = frames + "/" + theme + "/" + video;
            QCOMPARE(QDir(folder).entryList({"*.png"}, QDir::Files).size(), 72);
            QVERIFY(QFile::exists(folder + "/" + video + "_00000.png"));
            QVERIFY(QFile::exists(folder + "/" + video + "_00071.png"));
        }
    }
    QDirIterator sources(mainFolder + "/Contents/Resources/image/background", {"*.mp4"}, QDir::Files,
                         QDirIterator::Subdirectories);
    QVERIFY(!sources.hasNext());

    QStringList log = LogCapture::flush();
    QCOMPARE(log.filter("decodeAnimate try to decode video count: 24 ").size(), 1);
    QCOMPARE(log.filter("decodeAnimate decoded video count: 4 ").size(), 1);
    QCOMPARE(log.filter("*Quilm Upgrade Tool, start unZipResourceFiles:").size(), 1);
    QCOMPARE(box.launches(), QStringList{mainFolder + "/Contents/MacOS\tlaunch_salvix"});
    QVERIFY(runMarkers().isEmpty());

    // Second run: installed and decoded already; the flag asks for the upgrade word.
    gConfig.is_upgrade_tool = true;
    {
        UpgradeToolThread worker;
        Recorder record(worker);
        QVERIFY(runToEnd(worker));
        QCOMPARE(record.finish, QList<bool>{true});
        QCOMPARE(record.progress.mid(0, 2), (QList<int>{0, 100}));
        QCOMPARE(record.progress.mid(2, 11), handOverProgress());
    }
    log = LogCapture::flush();
    QCOMPARE(log.filter("decodeAnimate try to decode video count: 0 ").size(), 1);
    QCOMPARE(log.filter("decodeAnimate decoded video count: 0 ").size(), 1);
    QVERIFY(log.filter("start unZipResourceFiles").isEmpty());
    QCOMPARE(QDir(frames + "/light_4K/Scan").entryList({"*.png"}, QDir::Files).size(), 72);
    QTRY_COMPARE(box.launches().size(), 2);
    QCOMPARE(box.launches().last(), mainFolder + "/Contents/MacOS\tdelete_upgrade_file");
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::upgradeWaitsWhileSalvixRuns()
{
    WorkerSandbox box(kFiveGiB + 1024 * 1048576LL);
    QVERIFY(installBundle(olderVersion()));
    const QString mainFolder = getMainFolder();

    UpgradeToolThread worker;
    Recorder record(worker);
    // Salvix is started once its new executable is in place, at the first decoding share
    // (which arrives on this thread), and ended by pid after five ticks of the wait.
    qint64 salvixPid = 0;
    QAtomicInt ended = 0;
    connect(
        &worker, &UpgradeToolThread::sendProgress, this,
        [&](int, int progress) {
            if (salvixPid == 0 && progress > 400 && progress < 700 && QThread::currentThread() == thread()) {
                QProcess salvix;
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert("SALVIX_STAY_SECONDS", "60");
                salvix.setProcessEnvironment(environment);
                salvix.setProgram(getMainToolPath());
                salvix.setArguments({"started", "by test"});
                salvix.startDetached(&salvixPid);
            } else if (salvixPid > 0 && progress >= 750 && progress < 900 && ended.testAndSetRelaxed(0, 1)) {
                kill(static_cast<pid_t>(salvixPid), SIGTERM);
            }
        },
        Qt::DirectConnection);
    QVERIFY(runToEnd(worker));
    QVERIFY(salvixPid > 0);
    QCOMPARE(ended.loadRelaxed(), 1);

    QCOMPARE(record.toUpgrade.loadRelaxed(), 1);
    QCOMPARE(record.finish, QList<bool>{true});
    QCOMPARE(installedVersion(), QStringLiteral(SALVIX_SETUP_VERSION));

    // The wait: ticks of 10 from 700 while Salvix runs, then back to 100, then the hand-over.
    const QList<int>& p = record.progress;
    const int handOver = p.indexOf(900);
    QVERIFY(handOver > 0);
    QCOMPARE(p.at(handOver - 1), 100);
    int ticks = 0;
    for (int at = handOver - 2; at > 0 && p.at(at) > 700 && p.at(at) - p.at(at - 1) == 10; --at)
        ++ticks;
    QVERIFY2(ticks >= 3, qPrintable(QString("%1 ticks").arg(ticks)));

    QTRY_VERIFY(box.launches().contains(mainFolder + "/Contents/MacOS\tdelete_upgrade_file"));
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::declinedReminderAndLaunchNeverSeen()
{
    WorkerSandbox box(kFiveGiB + 1024 * 1048576LL);
    const QString mainFolder = getMainFolder();
    // An older Salvix whose process never shows under its own path: a script runs as its shell.
    QVERIFY(Sandbox::write(getMainInfoPList(), Sandbox::infoPlist(olderVersion())));
    QVERIFY(Sandbox::write(getMainToolPath(),
                           "#!/bin/sh\nprintf '%s\\t%s\\n' \"$1\" \"$2\" >> \"$HOME/Library/Application "
                           "Support/com.quilm.salvix/salvix_launches.txt\"\n"));
    QVERIFY(QFile::setPermissions(getMainToolPath(), QFile::permissions(getMainToolPath()) | QFileDevice::ExeOwner));
    gConfig.upgrade_reminder_declined = true;

    UpgradeToolThread worker;
    Recorder record(worker);
    QVERIFY(runToEnd(worker));

    QCOMPARE(record.toUpgrade.loadRelaxed(), 0);
    QCOMPARE(record.finish, QList<bool>{false});
    QCOMPARE(installedVersion(), olderVersion());
    QList<int> expected{0, 100};
    expected << handOverProgress();
    for (int pass = 1; pass <= 20; ++pass)
        expected << 1100 + 40 * pass;
    expected << 1000;
    QCOMPARE(record.progress, expected);

    // The first start with the program's folder, the fallback with the bundle folder.
    QTRY_COMPARE(box.launches().size(), 2);
    QCOMPARE(box.launches(),
             (QStringList{mainFolder + "/Contents/MacOS\tlaunch_salvix", mainFolder + "\tlaunch_salvix"}));
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::caseAInstallsAndReplacesEarlierSetup_data()
{
    QTest::addColumn<bool>("archiveHoldsProgram");
    // What lies in "Upgrade" before the run: "" nothing, "folder" a folder at the
    // program's place (as a rejected archive may leave it), "read-only" the program and
    // its folder, stored read-only in the archive, as start-up unpacked them.
    QTest::addColumn<QString>("leftover");
    QTest::newRow("archive with its program") << true << "";
    // The unpacked program is one an earlier run left: the earlier Salvix Setup stays.
    QTest::newRow("archive without a program") << false << "";
    QTest::newRow("folder at the program's place") << true << "folder";
    QTest::newRow("program stored read-only") << true << "read-only";
}

void TestUpgradeToolThreadRun::caseAInstallsAndReplacesEarlierSetup()
{
    QFETCH(bool, archiveHoldsProgram);
    QFETCH(QString, leftover);
    WorkerSandbox box(kFiveGiB + 1024 * 1048576LL);
    QVERIFY(installBundle(olderVersion()));
    const QString mainFolder = getMainFolder();
    const QString user = box.sandbox.userFolder();

    // The downloaded archive, accepted by start-up, and the run-together bundle folder whose
    // version makes it usable.
    const QString stage = box.sandbox.path() + "/stage";
    QVERIFY(Sandbox::write(stage + "/Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist(olderVersion())));
    const QString program = "/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    if (archiveHoldsProgram)
        QVERIFY(Sandbox::write(stage + program, "NEW SETUP"));
    else
        QVERIFY(Sandbox::write(user + "/Upgrade" + program, "STALE SETUP"));
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                              | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    if (leftover == "read-only") {
        QVERIFY(QFile::setPermissions(stage + program, readOnly));
        QVERIFY(QFile::setPermissions(QFileInfo(stage + program).path(), readOnly));
    }
    const QString archive = getToUpgradeFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(archive).absolutePath()));
    QProcess zip;
    zip.setWorkingDirectory(stage);
    zip.start("zip", {"-q", "-r", archive, "Salvix Setup.app"});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    if (leftover == "folder") {
        QVERIFY(Sandbox::write(user + "/Upgrade" + program + "/Contents/rejected", "REJECTED"));
    } else if (leftover == "read-only") {
        // The archive keeps the modes; the stage goes with the sandbox.
        QVERIFY(QFile::setPermissions(QFileInfo(stage + program).path(), readOnly | QFileDevice::WriteOwner));
        QProcess unzip;
        unzip.start("unzip", {"-q", archive, "-d", user + "/Upgrade"});
        QVERIFY(unzip.waitForFinished() && unzip.exitCode() == 0);
        const QFileDevice::Permissions userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(user + "/Upgrade" + program) & ~userBits, readOnly);
    }
    QVERIFY(Sandbox::write(user + "/UpgradeSalvix Setup.app/Contents/Info.plist", Sandbox::infoPlist(olderVersion())));
    gConfig.possible_patch_tool_to_upgrade = true;

    // Where an earlier Salvix Setup was started from.
    const QString earlier = box.sandbox.path() + "/Downloads/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    QVERIFY(Sandbox::write(earlier, "OLD SETUP"));
    QSettings(user + "/smart.ini", QSettings::IniFormat).setValue("Tool/LaunchSourceName", earlier);
    LogCapture::flush();

    UpgradeToolThread worker;
    Recorder record(worker);
    QVERIFY(runToEnd(worker));

    QCOMPARE(record.toUpgrade.loadRelaxed(), 1);
    QCOMPARE(record.finish, QList<bool>{true});
    QCOMPARE(record.progress.mid(0, 2), (QList<int>{0, 100}));
    QVERIFY(!QFile::exists(archive));
    QCOMPARE(installedVersion(), QStringLiteral(SALVIX_SETUP_VERSION));
    QTRY_VERIFY(box.launches().contains(mainFolder + "/Contents/MacOS\tdelete_upgrade_file"));

    // The earlier Salvix Setup gets the upgrade's program, never the archive's bytes.
    QCOMPARE(Sandbox::read(earlier), QByteArray(archiveHoldsProgram ? "NEW SETUP" : "OLD SETUP"));
    QVERIFY(!QFile::exists(archive + "_bak"));
    const QStringList log = LogCapture::flush();
    QCOMPARE(log.filter("****Quilm Upgrade Tool, start delete dir getImageFolder():").size(), 1);
    QCOMPARE(log.filter("[UpgradeToolThread] run ready copy configLaunchToolPath:").size(), 1);
    QCOMPARE(log.filter("autoUpgradeSoftware copy to patch tool succefully!").size(), archiveHoldsProgram ? 1 : 0);
    // Without a program unpacked from the accepted archive the copy is not even tried.
    QCOMPARE(log.filter("autoUpgradeSoftware try to copy patch tool end").size(), archiveHoldsProgram ? 1 : 0);
    QCOMPARE(
        log.filter("[UpgradeToolThread] unZipResourceMainTool: skipped on macOS (ZIP contains full app bundle)").size(),
        1);
    QCOMPARE(log.filter("[UpgradeToolThread] earlier Salvix Setup kept, \"" + user
                        + "/Upgrade/Salvix Setup.app/Contents/MacOS/Salvix Setup\" is not the program of an upgrade "
                          "archive accepted in this run")
                 .size(),
             archiveHoldsProgram ? 0 : 1);
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::caseBRunningAsTheUpgradeFile()
{
    WorkerSandbox box(kFiveGiB + 1024 * 1048576LL);
    QVERIFY(installBundle(QStringLiteral(SALVIX_SETUP_VERSION)));
    const QString mainFolder = getMainFolder();
    // Decoded already: the source folder is there, its videos are not.
    const QString videos = mainFolder + "/Contents/Resources/image/background";
    QVERIFY(QDir(videos).removeRecursively() && QDir().mkpath(videos));
    QVERIFY(Sandbox::write(box.sandbox.userFolder() + "/UpgradeSalvix Setup.app/Contents/Info.plist",
                           Sandbox::infoPlist(olderVersion())));

    // This program, copied to the archive's path, runs the worker there (see main).
    const QString archive = getToUpgradeFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(archive).absolutePath()));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), archive));
    QVERIFY(QFile::setPermissions(archive, QFile::permissions(archive) | QFileDevice::ExeOwner));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SETUPWORKER_RUN_AS_UPGRADE_FILE", "1");
    child.setProcessEnvironment(environment);
    child.start(archive, {});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitCode(), 0);
    const QStringList report = QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);

    QList<int> expected{0, 100};
    expected << handOverProgress() << 1000;
    QString expectedProgress = "progress:";
    for (int value : expected)
        expectedProgress += " " + QString::number(value);
    QCOMPARE(report, (QStringList{expectedProgress, "statuses:", "toUpgrade: 0", "finish: 1", "errors:"}));
    QTRY_VERIFY(box.launches().contains(mainFolder + "/Contents/MacOS\tdelete_upgrade_file"));
    QVERIFY(QFile::exists(archive));
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::tooLittleSpaceStopsTheRun_data()
{
    QTest::addColumn<bool>("unknownSize");
    QTest::addColumn<QString>("sizeLine");

    QTest::newRow("one block short of 5 GiB") << false << "*****Quilm Upgrade Tool, Detected Available Size: 5119 MB";
    // No "/Applications" at all: its free space cannot be determined.
    QTest::newRow("size unknown") << true << "*****Quilm Upgrade Tool, Detected Available Size: 0 MB";
}

void TestUpgradeToolThreadRun::tooLittleSpaceStopsTheRun()
{
    QFETCH(bool, unknownSize);
    QFETCH(QString, sizeLine);
    if (!unknownSize && !m_isolated)
        QSKIP("needs a private mount namespace for a small file system");
    WorkerSandbox box(kFiveGiB - 4096);
    if (unknownSize) {
        QVERIFY(!box.applications.isMounted() || umount2(qPrintable(box.sandbox.applications()), 0) == 0);
        QVERIFY(QDir(box.sandbox.applications()).removeRecursively());
    } else {
        QVERIFY(box.applications.isMounted());
    }
    LogCapture::flush();

    UpgradeToolThread worker;
    Recorder record(worker);
    QVERIFY(runToEnd(worker));

    QCOMPARE(record.statuses, QList<int>{1000});
    QVERIFY(record.finish.isEmpty());
    QCOMPARE(record.progress, (QList<int>{0, 100}));
    QVERIFY(!QFile::exists(getMainToolPath()));
    QCOMPARE(runMarkers(), QStringList{QDir::toNativeSeparators(QCoreApplication::applicationFilePath())});
    const QStringList log = LogCapture::flush();
    QCOMPARE(log.filter(sizeLine).size(), 1);
    QCOMPARE(log.filter("UpgradeToolThread::run() finished for UPGRADE_SPACE_NOT_ENOUCH").size(), 1);
}

void TestUpgradeToolThreadRun::missingVideoSourceIsReported()
{
    WorkerSandbox box(kFiveGiB + 1024 * 1048576LL);
    QVERIFY(installBundle(QStringLiteral(SALVIX_SETUP_VERSION)));
    QVERIFY(QDir(getMainFolder() + "/Contents/Resources/image/background").removeRecursively());

    UpgradeToolThread worker;
    Recorder record(worker);
    QVERIFY(runToEnd(worker));

    QCOMPARE(record.statuses, QList<int>{1001});
    QCOMPARE(record.finish, QList<bool>{true});
    QVERIFY(QDir(getImageFolder() + "/background").exists());
    QVERIFY(runMarkers().isEmpty());
}

void TestUpgradeToolThreadRun::linkInTheSourceIsSkipped_data()
{
    QTest::addColumn<QString>("linked"); // the part of the source that is a link to the video's tree elsewhere

    QTest::newRow("theme folder") << "theme";
    QTest::newRow("video folder") << "theme/Scan";
    QTest::newRow("video file") << "theme/Scan/Scan.mp4";
}

void TestUpgradeToolThreadRun::linkInTheSourceIsSkipped()
{
    QFETCH(QString, linked);

    // No bundle: the per-user frame folder is the source too. A link in it leads to a
    // user's video elsewhere, which must be neither decoded nor deleted.
    Sandbox sandbox;
    const QString video = sandbox.path() + "/elsewhere/theme/Scan/Scan.mp4";
    QVERIFY(QDir().mkpath(QFileInfo(video).absolutePath()));
    QVERIFY(makeVideo(video));
    const QString frames = getImageFolder() + "/background";
    const QString link = frames + "/" + linked;
    QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
    QVERIFY(QFile::link(sandbox.path() + "/elsewhere/" + linked, link));
    LogCapture::flush();

    UpgradeToolThread worker;
    Recorder record(worker);
    worker.decodeAnimate();
    QCoreApplication::processEvents();
    const QStringList log = LogCapture::flush();

    QVERIFY(QFile::exists(video));
    QVERIFY(record.decodingProgress.isEmpty());
    QCOMPARE(countFiles(frames, "*.png"), 0);
    QCOMPARE(log.filter("[UpgradeToolThread] skipped link in the video source: \"" + link + "\"").size(), 1);
    QCOMPARE(log.filter("decodeAnimate decoded video count: 0 ").size(), 1);
}

// A second writer swaps the video's folder for a link to a user's folder while ffmpeg
// runs (here ffmpeg itself does it): the decoded source is removed only where it was
// listed, so the user's video of the same name stays.
void TestUpgradeToolThreadRun::folderSwappedForALinkKeepsWhatItLeadsTo()
{
    Sandbox sandbox;
    const QString frames = getImageFolder() + "/background";
    const QString videoFolder = frames + "/theme/Scan";
    QVERIFY(Sandbox::write(videoFolder + "/Scan.mp4", "listed video"));
    const QString userVideo = sandbox.path() + "/elsewhere/Scan.mp4";
    QVERIFY(Sandbox::write(userVideo, "user's video"));

    const QString stubs = sandbox.path() + "/stubs";
    QVERIFY(Sandbox::write(stubs + "/ffmpeg", "#!/bin/sh\nrm -rf \"$SWAP_FOLDER\" && ln -s \"$SWAP_TARGET\" "
                                              "\"$SWAP_FOLDER\"\n"));
    QVERIFY(QFile::setPermissions(stubs + "/ffmpeg", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(stubs) + ":" + path);
    qputenv("SWAP_FOLDER", QFile::encodeName(videoFolder));
    qputenv("SWAP_TARGET", QFile::encodeName(sandbox.path() + "/elsewhere"));

    UpgradeToolThread worker;
    Recorder record(worker);
    worker.decodeAnimate();
    qputenv("PATH", path);
    qunsetenv("SWAP_FOLDER");
    qunsetenv("SWAP_TARGET");

    QVERIFY(QFileInfo(videoFolder).isSymLink());
    QCOMPARE(Sandbox::read(userVideo), QByteArray("user's video"));
}

// Run from the archive's path by caseBRunningAsTheUpgradeFile: one worker run with the
// archive accepted, its signals printed.
static int runAsUpgradeFile(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(SALVIX_SETUP_VERSION));
    LogCapture::install();
    gConfig.possible_patch_tool_to_upgrade = true;
    UpgradeToolThread worker;
    Recorder record(worker);
    worker.start();
    while (!worker.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.wait();

    QString report = "progress:";
    for (int value : std::as_const(record.progress))
        report += " " + QString::number(value);
    report += "\nstatuses:";
    for (int status : std::as_const(record.statuses))
        report += " " + QString::number(status);
    report += QString("\ntoUpgrade: %1\nfinish:").arg(record.toUpgrade.loadRelaxed());
    for (bool launched : std::as_const(record.finish))
        report += launched ? " 1" : " 0";
    // A normal run: the worker unpacks its own program file, which holds no archive.
    const QStringList errors = LogCapture::flush().filter(QRegularExpression("^ERROR"));
    report += "\nerrors:";
    for (const QString& line : errors)
        report += " " + line;
    std::printf("%s\n", qPrintable(report));
    return 0;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("SETUPWORKER_RUN_AS_UPGRADE_FILE"))
        return runAsUpgradeFile(argc, argv);
    QCoreApplication app(argc, argv);
    TestUpgradeToolThreadRun test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_UpgradeToolThreadRun.moc"
