// Whole runs of the built Salvix Setup, started as a process in a sandbox without a
// display.

#include "ProgramSandbox.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>

namespace {

int countFrames(const QString& folder)
{
    int count = 0;
    QDirIterator it(folder, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

QString iniValue(const QString& file, const QString& key)
{
    return QSettings(file, QSettings::IniFormat).value(key).toString();
}

bool isRunning(const QString& executable)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry)) == executable)
            return true;
    }
    return false;
}

// English unless a test asks for another system language.
void setSystemLanguage(QProcessEnvironment& env, const QString& lang)
{
    env.insert(QStringLiteral("LANG"), lang);
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_MESSAGES"));
}

// A downloaded upgrade: "Salvix Setup.zip" holding a Salvix Setup bundle of this version,
// with its SHA-1 check file beside it.
void placeUpgradeArchive(const ProgramSandbox& box, const QString& version)
{
    const QString stage = box.path() + QStringLiteral("/upgrade-stage");
    const QString bundle = stage + QStringLiteral("/Salvix Setup.app");
    QVERIFY(Sandbox::write(bundle + QStringLiteral("/Contents/Info.plist"), Sandbox::infoPlist(version)));
    QVERIFY(QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS")));
    QVERIFY(QFile::copy(box.setupExecutable(), bundle + QStringLiteral("/Contents/MacOS/Salvix Setup")));
    const QString upgrade = box.userFolder() + QStringLiteral("/Upgrade");
    QVERIFY(QDir().mkpath(upgrade));
    QProcess zip;
    zip.setWorkingDirectory(stage);
    zip.start(QStringLiteral("zip"),
              {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-y"),
               upgrade + QStringLiteral("/Salvix Setup.zip"), QStringLiteral("Salvix Setup.app")});
    QVERIFY(zip.waitForFinished(60000) && zip.exitCode() == 0);
    QVERIFY(Sandbox::write(upgrade + QStringLiteral("/Salvix Setup.dat"),
                           Sandbox::sha1Hex(upgrade + QStringLiteral("/Salvix Setup.zip")) + "\n"));
}

// Salvix 3.1.0 installed, this Salvix Setup 3.2.0 and a downloaded 3.3.0 beside it: a run
// that upgrades Salvix and hands over with "delete_upgrade_file".
void placeUpgradeOverOlderSalvix(const ProgramSandbox& box)
{
    box.installSalvix(QStringLiteral("3.1.0"));
    box.setSetupVersion(QStringLiteral("3.2.0"));
    placeUpgradeArchive(box, QStringLiteral("3.3.0"));
}

} // namespace

class TestProgramRuns : public QObject
{
    Q_OBJECT

private slots:
    void firstRunThenPlainStart();
    void acceptedUpgradeArchive();
    void earlierSetupReplacement_data();
    void earlierSetupReplacement();
    void hostileLaunchSource_data();
    void hostileLaunchSource();
    void secondInstanceIsRefused();
    void runningSalvix_data();
    void runningSalvix();
};

void TestProgramRuns::firstRunThenPlainStart()
{
    ProgramSandbox box;
    QVERIFY(box.isValid());
    QProcessEnvironment env = box.environment();
    setSystemLanguage(env, QStringLiteral("en_US.UTF-8"));

    QProcess first;
    QCOMPARE(ProgramSandbox::run(first, box.setupExecutable(), {}, env), 0);

    // The embedded bundle installed, its frames decoded, Salvix started from its folder.
    QVERIFY(QFileInfo(box.salvixExecutable()).isExecutable());
    QVERIFY(Sandbox::read(box.salvixBundle() + "/Contents/Info.plist").contains("<string>" SALVIX_VERSION "</string>"));
    QCOMPARE(countFrames(box.userFolder() + "/image/background"), 24 * 72);
    QCOMPARE(box.salvixLaunches(), QStringList{box.salvixBundle() + "/Contents/MacOS\tlaunch_salvix"});

    // The launch log names the program on its first line and ends with the run.
    const QStringList log = box.launchLogLines();
    QVERIFY(!log.isEmpty());
    const QRegularExpression firstLine(
        QStringLiteral("^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[main\\] run from path: \"%1\" $")
            .arg(QRegularExpression::escape(box.setupExecutable())));
    QVERIFY2(firstLine.match(log.first()).hasMatch(), qPrintable(log.first()));
    QVERIFY(log.filter("[main] init window, to_upgrade_reminder false , force_upgrade_tool: false , is_upgrade_tool: "
                       "false , possible_patch_tool_to_upgrade: false , isToUpgradeTool: false ")
                .size()
            == 1);
    QVERIFY(log.filter("[main] show window, to_upgrade_reminder: false ").size() == 1);
    // The screen is measured for the layout, and once more after the window was placed.
    QCOMPARE(log.filter("\"screen pixel width ").size(), 2);
    QVERIFY2(log.last().endsWith(" [main] run finished "), qPrintable(log.last()));

    // Start-up's settings: the reminder reset, the language taken from the system.
    QCOMPARE(iniValue(box.settingsFile(), "Tool/AlreadyUpgradeReminder"), QStringLiteral("0"));
    QCOMPARE(iniValue(box.settingsFile(), "Tool/LanguageType"), QStringLiteral("2"));
    QVERIFY(iniValue(box.settingsFile(), "Tool/LaunchSourceName").isEmpty());

    // The script removed the Salvix Setup bundle after the program had ended, then itself.
    QVERIFY(box.waitForSelfDelete());
    QVERIFY(!QFileInfo::exists(box.setupBundle()));
    QVERIFY(box.stubCalls("pkill").isEmpty());

    // A second start, from a fresh copy in Traditional Chinese, once the first Salvix ended:
    // nothing to install, Salvix started again, the first start's path kept as the source.
    QVERIFY(ProgramSandbox::waitFor([&] { return !isRunning(box.salvixExecutable()); }));
    box.placeSetupBundle();
    setSystemLanguage(env, QStringLiteral("zh_TW.UTF-8"));
    QProcess second;
    QCOMPARE(ProgramSandbox::run(second, box.setupExecutable(), {}, env), 0);
    QCOMPARE(box.salvixLaunches().size(), 2);
    QCOMPARE(box.salvixLaunches().last(), box.salvixBundle() + "/Contents/MacOS\tlaunch_salvix");
    QVERIFY(box.launchLogLines().filter("Quilm Upgrade Tool, start unZipResourceFiles").isEmpty());
    QCOMPARE(iniValue(box.settingsFile(), "Tool/LaunchSourceName"), box.setupExecutable());
    QCOMPARE(iniValue(box.settingsFile(), "Tool/LanguageType"), QStringLiteral("1"));
    QVERIFY(box.waitForSelfDelete());
    QVERIFY(!QFileInfo::exists(box.setupBundle()));
}

void TestProgramRuns::acceptedUpgradeArchive()
{
    // The downloaded Salvix Setup is newer than the installed Salvix and the running one.
    ProgramSandbox box;
    placeUpgradeOverOlderSalvix(box);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(box.run(), 0);

    const QStringList log = box.launchLogLines();
    QCOMPARE(log.filter("[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) isToUpgradeTool set as: "
                        "false ")
                 .size(),
             1);
    QCOMPARE(log.filter("possible_patch_tool_to_upgrade: true , isToUpgradeTool: false ").size(), 1);
    QVERIFY(Sandbox::read(box.salvixBundle() + "/Contents/Info.plist").contains("<string>" SALVIX_VERSION "</string>"));
    QCOMPARE(box.salvixLaunches(), QStringList{box.salvixBundle() + "/Contents/MacOS\tdelete_upgrade_file"});
    QVERIFY(box.waitForSelfDelete());
    QVERIFY(!QFileInfo::exists(box.setupBundle()));
}

// An earlier Salvix Setup gets the program of an upgrade archive only when this run
// accepted that archive: not from an archive that failed its check, nor from a copy
// unpacked by an earlier run.
void TestProgramRuns::earlierSetupReplacement_data()
{
    QTest::addColumn<QString>("upgrade");
    QTest::addColumn<bool>("replaced");
    // The earlier program is kept with a warning whenever no accepted archive's program was unpacked.
    QTest::addColumn<bool>("warned");

    QTest::newRow("accepted archive") << "accepted" << true << false;
    // Start-up removes what a rejected archive held, and the earlier program stays.
    QTest::newRow("archive with a wrong check file") << "wrong check file" << false << true;
    QTest::newRow("unpacked copy without an archive") << "unpacked only" << false << true;
}

void TestProgramRuns::earlierSetupReplacement()
{
    QFETCH(QString, upgrade);
    QFETCH(bool, replaced);
    QFETCH(bool, warned);

    // The upgrade's program differs from the earlier one.
    ProgramSandbox box;
    placeUpgradeOverOlderSalvix(box);
    if (QTest::currentTestFailed())
        return;
    const QString upgradeFolder = box.userFolder() + "/Upgrade";
    const QString unpacked = upgradeFolder + "/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    if (upgrade == "wrong check file") {
        QVERIFY(Sandbox::write(upgradeFolder + "/Salvix Setup.dat", QByteArray(40, '0') + "\n"));
    } else if (upgrade == "unpacked only") {
        QProcess unzip;
        unzip.start("unzip", {"-q", upgradeFolder + "/Salvix Setup.zip", "-d", upgradeFolder});
        QVERIFY(unzip.waitForFinished(60000) && unzip.exitCode() == 0);
        QVERIFY(QFile::remove(upgradeFolder + "/Salvix Setup.zip"));
        QVERIFY(QFile::remove(upgradeFolder + "/Salvix Setup.dat"));
    }
    const QByteArray upgradeProgram = Sandbox::read(box.setupExecutable());
    const QString earlier = box.path() + "/Downloads/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    QVERIFY(Sandbox::write(earlier, "EARLIER SETUP"));
    QSettings(box.settingsFile(), QSettings::IniFormat).setValue("Tool/LaunchSourceName", earlier);

    QCOMPARE(box.run(), 0);

    QCOMPARE(box.salvixLaunches(), QStringList{box.salvixBundle() + "/Contents/MacOS\tdelete_upgrade_file"});
    QCOMPARE(Sandbox::read(earlier), replaced ? upgradeProgram : QByteArray("EARLIER SETUP"));
    QVERIFY(!QFile::exists(unpacked + "_bak"));
    const QStringList log = box.launchLogLines();
    const QStringList kept =
        log.filter(QStringLiteral("WARN  "))
            .filter(QStringLiteral("[UpgradeToolThread] earlier Salvix Setup kept, \"%1\" is not the "
                                   "program of an upgrade archive accepted in this run")
                        .arg(unpacked));
    QCOMPARE(kept.size(), warned ? 1 : 0);
    if (upgrade == "wrong check file")
        QVERIFY(!QFileInfo::exists(upgradeFolder + "/Salvix Setup.app"));
    QCOMPARE(log.filter("autoUpgradeSoftware copy to patch tool succefully!").size(), replaced ? 1 : 0);
    QVERIFY(box.waitForSelfDelete());
    QVERIFY(!QFileInfo::exists(box.setupBundle()));
}

// The first line of the previous launch log names what an accepted upgrade replaces: only
// an earlier Salvix Setup in a bundle is ever replaced, anything else stays as it is.
void TestProgramRuns::hostileLaunchSource_data()
{
    QTest::addColumn<QString>("named");

    QTest::newRow("installed Salvix through a doubled slash") << "salvix";
    QTest::newRow("a user's document") << "document";
    QTest::newRow("relative bundle path") << "relative";
    QTest::newRow("FIFO named as a Salvix Setup") << "fifo";
}

void TestProgramRuns::hostileLaunchSource()
{
    QFETCH(QString, named);

    ProgramSandbox box;
    placeUpgradeOverOlderSalvix(box);
    if (QTest::currentTestFailed())
        return;
    QString path;
    QString checked;
    QByteArray content = "the user's own file\n";
    if (named == "salvix") {
        path = box.salvixBundle() + "/Contents/MacOS//Salvix";
        checked = box.salvixExecutable();
        // The worker installs the embedded Salvix over the older one.
        content = Sandbox::read(QStringLiteral(SALVIX_STAGED_BUNDLE) + "/Contents/MacOS/Salvix");
    } else if (named == "document") {
        path = checked = box.path() + "/Documents/notes.txt";
        QVERIFY(Sandbox::write(path, content));
    } else if (named == "relative") {
        path = "Old.app/Contents/MacOS/Salvix Setup";
        checked = box.path() + "/" + path;
        QVERIFY(Sandbox::write(checked, content));
    } else {
        path = checked = box.path() + "/Fifo.app/Contents/MacOS/Salvix Setup";
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    QVERIFY(Sandbox::write(box.launchLog(),
                           "INFO  2026-01-01 00:00:00.000 [main] run from path: \"" + path.toUtf8() + "\"\n"));

    // A relative path is taken from the current folder, which the program inherits.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(box.path());
    const int status = box.run();
    QDir::setCurrent(cwd);
    QCOMPARE(status, 0);

    QCOMPARE(iniValue(box.settingsFile(), "Tool/LaunchSourceName"), path);
    QCOMPARE(box.salvixLaunches(), QStringList{box.salvixBundle() + "/Contents/MacOS\tdelete_upgrade_file"});
    if (named == "fifo") {
        struct stat status;
        QVERIFY(lstat(QFile::encodeName(checked).constData(), &status) == 0 && S_ISFIFO(status.st_mode));
    } else {
        QCOMPARE(Sandbox::read(checked), content);
    }
    const QStringList log = box.launchLogLines();
    QCOMPARE(
        log.filter(QStringLiteral("WARN  "))
            .filter(QStringLiteral("autoUpgradeSoftware left alone, not an earlier Salvix Setup: \"%1\"").arg(path))
            .size(),
        1);
    QVERIFY(log.filter("autoUpgradeSoftware copy to patch tool").isEmpty());
    QVERIFY(box.waitForSelfDelete());
}

void TestProgramRuns::secondInstanceIsRefused()
{
    ProgramSandbox box;
    // The first instance, held stopped so that it stays in the process list.
    QProcess first;
    first.setProcessEnvironment(box.environment());
    first.start(box.setupExecutable(), QStringList());
    QVERIFY(first.waitForStarted());
    QCOMPARE(kill(static_cast<pid_t>(first.processId()), SIGSTOP), 0);

    const int status = box.run();
    kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished();
    QCOMPARE(status, 1);

    // Its own launch log, with the refusal; no window was made.
    const QStringList log = box.launchLogLines();
    QCOMPARE(log.size(), 2);
    QVERIFY(log.at(0).endsWith("[main] run from path: \"" + box.setupExecutable() + "\" "));
    QVERIFY(
        log.at(1).endsWith("[main] checkQuilmTolvaneRepeatRunning true from path: \"" + box.setupExecutable() + "\" "));
    QVERIFY(box.stubCalls("osascript").join('\n').contains("whose name contains \"Salvix Engine\" to true"));
    QVERIFY(!QFile::exists(box.salvixBundle()));
}

void TestProgramRuns::runningSalvix_data()
{
    QTest::addColumn<bool>("forced");
    QTest::addColumn<bool>("linked"); // "/Applications" is a link to the folder
    QTest::newRow("refused") << false << false;
    QTest::newRow("refused, \"/Applications\" a link") << false << true;
    QTest::newRow("forced by the upgrade program") << true << false;
}

void TestProgramRuns::runningSalvix()
{
    QFETCH(bool, forced);
    QFETCH(bool, linked);
    ProgramSandbox box;
    if (linked) {
        const QString folder = box.root() + "/Volume";
        QVERIFY(QDir().rename(box.applications(), folder));
        QVERIFY(QFile::link(folder, box.applications()));
    }
    box.installSalvix(QStringLiteral("3.1.0"));

    QString executable = box.setupExecutable();
    QStringList arguments;
    if (forced) {
        // Salvix starts the downloaded upgrade program itself with the forcing word; that
        // program runs from the upgrade path, with its version beside it, and is newer.
        executable = box.userFolder() + "/Upgrade/Salvix Setup.zip";
        QVERIFY(QDir().mkpath(box.userFolder() + "/Upgrade"));
        QVERIFY(QFile::copy(box.setupExecutable(), executable));
        QVERIFY(QFile::setPermissions(executable, QFile::permissions(box.setupExecutable())));
        QVERIFY(Sandbox::write(box.userFolder() + "/Info.plist", Sandbox::infoPlist("3.3.0")));
        QVERIFY(Sandbox::write(box.userFolder() + "/Upgrade/Salvix Setup.dat", Sandbox::sha1Hex(executable)));
        arguments << box.salvixBundle() + "/Contents/MacOS"
                  << "force_upgrade_tool";
    }

    QProcessEnvironment salvixEnv = box.environment();
    salvixEnv.insert("SALVIX_STAY_SECONDS", "120");
    QProcess salvix;
    salvix.setProcessEnvironment(salvixEnv);
    salvix.start(box.salvixExecutable(), {"started", "by the test"});
    QVERIFY(salvix.waitForStarted());
    QVERIFY(ProgramSandbox::waitFor([&] { return box.salvixLaunches().size() == 1; }));

    QProcess setup;
    setup.setProcessEnvironment(box.environment());
    setup.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    setup.start(executable, arguments);
    QVERIFY(setup.waitForStarted());
    if (forced) {
        // Past the refusal, the worker waits for Salvix to end: end it.
        QVERIFY(ProgramSandbox::waitFor([&] { return !box.launchLogLines().filter("[main] show window").isEmpty(); }));
        salvix.kill();
    }
    QVERIFY(setup.waitForFinished(180000));
    salvix.kill();
    salvix.waitForFinished();
    QCOMPARE(setup.exitStatus(), QProcess::NormalExit);

    const QStringList log = box.launchLogLines();
    const QStringList refusal = log.filter("[main] checkQuilmTolvaneRepeatRunning main tool true from path: \""
                                           + box.salvixExecutable() + "\" ");
    if (!forced) {
        QCOMPARE(setup.exitCode(), 1);
        QCOMPARE(refusal.size(), 1);
        QVERIFY(log.last().endsWith(refusal.first()));
        QVERIFY(box.stubCalls("osascript").join('\n').contains("whose name contains \"Salvix\" to true"));
        QCOMPARE(box.salvixLaunches().size(), 1);
    } else {
        QCOMPARE(setup.exitCode(), 0);
        QVERIFY(refusal.isEmpty());
        QCOMPARE(log.filter("force_upgrade_tool: true , is_upgrade_tool: true ").size(), 1);
        QVERIFY(box.salvixLaunches().size() > 1);
        QVERIFY(box.salvixLaunches().last().endsWith("\tdelete_upgrade_file"));
    }
}

QTEST_GUILESS_MAIN(TestProgramRuns)
#include "tst_ProgramRuns.moc"
