// The self-delete script, written by a copy of a small program that runs from a bundle
// in the sandbox and run for real by bash, with recording stubs for pgrep, pkill, sleep
// and rm first on the search path.
#include "WindowFixture.h"
#include "WorkerFixture.h"

#include "Locations.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace WindowFixture;

class TestSelfDelete : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void deletion_data();
    void deletion();
    void onlyTheBundlesProgramIsMatched();
    void guard_data();
    void guard();
    void unusualBundlePath();
    void vanishedBundleFallsBack();
    void vanishedFolderOutsideBundle_data();
    void vanishedFolderOutsideBundle();
    void startedByAnotherPath_data();
    void startedByAnotherPath();
    void waitSeesControlCharacters_data();
    void waitSeesControlCharacters();
    void startedAsInstalledSalvix();
    void plantedScript();
    void plantedLog_data();
    void plantedLog();

private:
    QString appPath(const QString& name) const { return m_sandbox->applications() + QLatin1Char('/') + name; }
    QString scriptPath() const { return m_sandbox->root() + QStringLiteral("/tmp/quilm_setup_selfdelete.sh"); }
    QString scriptLogPath() const { return m_sandbox->root() + QStringLiteral("/tmp/quilm_selfdelete.log"); }
    QString helperLogPath() const { return m_sandbox->path() + QStringLiteral("/helper.log"); }
    // Copies the program to this path and runs it there until it ends, with argv[0] set
    // to startedAs when that is given.
    bool runHelper(const QString& executable, const QStringList& arguments = {}, const QString& startedAs = {});
    // Waits until the script has deleted itself.
    bool scriptEnded();
    QStringList scriptLog() const;
    QString helperLog() const { return QString::fromUtf8(Sandbox::read(helperLogPath())); }
    QString pidsPath() const { return m_sandbox->path() + QStringLiteral("/pids"); }
    // Starts a process that first adds its id to the list the pgrep and pkill stubs look at,
    // with argv[0] set to startedAs when that is given.
    bool startListed(QProcess& process, const QString& workingDirectory, const QStringList& command,
                     const QString& startedAs = {});

    bool m_ownMounts = false;
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<Stubs> m_stubs;
};

void TestSelfDelete::initTestCase()
{
    // Mounts made to plant a script stay inside this process's own mount table.
    m_ownMounts = geteuid() == 0 && WorkerFixture::enterPrivateMountNamespace();
}

void TestSelfDelete::init()
{
    m_sandbox = std::make_unique<Sandbox>();
    QVERIFY(m_sandbox->isValid());
    QVERIFY(QDir().mkpath(m_sandbox->root() + QStringLiteral("/tmp")));
    m_stubs = std::make_unique<Stubs>(m_sandbox->path() + QStringLiteral("/stubs"));
}

void TestSelfDelete::cleanup()
{
    m_stubs.reset();
    m_sandbox.reset();
}

bool TestSelfDelete::runHelper(const QString& executable, const QStringList& arguments, const QString& startedAs)
{
    QDir().mkpath(QFileInfo(executable).absolutePath());
    if (!QFile::copy(QStringLiteral(SELFDELETE_HELPER), executable))
        return false;
    QProcess helper;
    helper.setWorkingDirectory(m_sandbox->path());
    helper.setProcessChannelMode(QProcess::ForwardedChannels);
    if (startedAs.isEmpty())
        helper.start(executable, QStringList{helperLogPath()} + arguments);
    else
        helper.start(QStringLiteral("/bin/bash"),
                     QStringList{QStringLiteral("-c"), QStringLiteral("exec -a \"$0\" \"$@\""), startedAs, executable,
                                 helperLogPath()}
                         + arguments);
    return helper.waitForFinished(60000) && helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
}

bool TestSelfDelete::startListed(QProcess& process, const QString& workingDirectory, const QStringList& command,
                                 const QString& startedAs)
{
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("/bin/bash"),
                  QStringList{QStringLiteral("-c"),
                              QStringLiteral("echo $$ >> \"$1\"; a=$2; shift 2; "
                                             "if [ -n \"$a\" ]; then exec -a \"$a\" \"$@\"; else exec \"$@\"; fi"),
                              QStringLiteral("listed"), pidsPath(), startedAs}
                      + command);
    return process.waitForStarted();
}

bool TestSelfDelete::scriptEnded()
{
    QElapsedTimer timer;
    timer.start();
    while (QFileInfo::exists(scriptPath()) && timer.elapsed() < 60000)
        QTest::qWait(20);
    return !QFileInfo::exists(scriptPath());
}

QStringList TestSelfDelete::scriptLog() const
{
    QStringList lines = QString::fromUtf8(Sandbox::read(scriptLogPath())).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

void TestSelfDelete::deletion_data()
{
    QTest::addColumn<int>("runningChecks");
    QTest::addColumn<int>("refusedDeletions");
    QTest::addColumn<QStringList>("sleeps");
    QTest::addColumn<QStringList>("log");

    const QString done = QStringLiteral("[selfdelete] ✅ 已删除 %1");
    const QString retry = QStringLiteral("[selfdelete] 第 %1 次重试...");
    QStringList waited30;
    for (int i = 0; i < 30; ++i)
        waited30 << QStringLiteral("1");

    QTest::newRow("program already ended") << 0 << 0 << QStringList{"2"} << QStringList{done};
    QTest::newRow("program ends after two checks") << 2 << 0 << QStringList{"1", "1", "2"} << QStringList{done};
    QTest::newRow("program never ends: 30 checks") << 1000 << 0 << (waited30 << "2") << QStringList{done};
    QTest::newRow("two failed attempts") << 0 << 2 << QStringList{"2", "3", "3"}
                                         << QStringList{retry.arg(1), retry.arg(2), done};
    QTest::newRow("every attempt fails") << 0 << 5 << QStringList{"2", "3", "3", "3", "3", "3"}
                                         << QStringList{
                                                retry.arg(1), retry.arg(2),
                                                retry.arg(3), retry.arg(4),
                                                retry.arg(5), QStringLiteral("[selfdelete] ⚠️ 删除失败: %1")};
}

void TestSelfDelete::deletion()
{
    QFETCH(int, runningChecks);
    QFETCH(int, refusedDeletions);
    QFETCH(QStringList, sleeps);
    QFETCH(QStringList, log);

    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Salvix Setup");
    QVERIFY(Sandbox::write(bundle + QStringLiteral("/Contents/Info.plist"), Sandbox::infoPlist("3.2.0")));
    // An earlier run's script is replaced, whatever its mode.
    QVERIFY(Sandbox::write(scriptPath(), "#!/bin/bash\necho stale\n"));
    qputenv("STUB_SNAPSHOT", scriptPath().toUtf8());
    qputenv("STUB_PGREP_RUNNING", QByteArray::number(runningChecks));
    qputenv("STUB_RM_TARGET", bundle.toUtf8());
    qputenv("STUB_RM_REFUSE", QByteArray::number(refusedDeletions));

    QVERIFY(runHelper(executable));
    QVERIFY(scriptEnded());

    QCOMPARE(QFileInfo::exists(bundle), refusedDeletions >= 5);
    QStringList expectedLog;
    for (const QString& line : std::as_const(log))
        expectedLog << (line.contains(QLatin1String("%1")) ? line.arg(bundle) : line);
    QCOMPARE(scriptLog(), expectedLog);
    QCOMPARE(m_stubs->callsOf(QStringLiteral("sleep")), [&] {
        QList<QStringList> calls;
        for (const QString& seconds : std::as_const(sleeps))
            calls << QStringList{seconds};
        return calls;
    }());

    const QList<QStringList> pgrep = m_stubs->callsOf(QStringLiteral("pgrep"));
    QCOMPARE(pgrep.size(), qMin(runningChecks + 1, 30));
    for (const QStringList& call : pgrep)
        QCOMPARE(call.size(), 2);
    const QList<QStringList> pkill = m_stubs->callsOf(QStringLiteral("pkill"));
    QCOMPARE(pkill.size(), qMin(refusedDeletions, 5));
    for (const QStringList& call : pkill)
        QCOMPARE(call, QStringList({QStringLiteral("-9"), QStringLiteral("-f"), pgrep.first().at(1)}));
    QCOMPARE(m_stubs->callsOf(QStringLiteral("rm")).last(), QStringList({QStringLiteral("-f"), scriptPath()}));

    // The script as bash found it: written anew, the owner's alone, UTF-8 without BOM.
    const QFileInfo seen(scriptPath() + QStringLiteral(".seen"));
    const QFileDevice::Permissions user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    QCOMPARE(seen.permissions() & ~user, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QStringList lines = QString::fromUtf8(Sandbox::read(seen.filePath())).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 27);
    QCOMPARE(lines.first(), QStringLiteral("#!/bin/bash"));
    QCOMPARE(lines.at(2), QStringLiteral("SETUP='%1'").arg(bundle));
    QCOMPARE(lines.last(), QString());
    // The program's process id: asked for wherever the command lines show no program.
    const QRegularExpressionMatch pid =
        QRegularExpression(QStringLiteral("^SETUP_PID=([1-9][0-9]*)$")).match(lines.at(3));
    QVERIFY2(pid.hasMatch(), qPrintable(lines.at(3)));
    QCOMPARE(m_stubs->callsOf(QStringLiteral("ps")),
             QList<QStringList>(runningChecks < 30 ? 1 : 0, QStringList{QStringLiteral("-p"), pid.captured(1)}));

    QVERIFY(helperLog().contains(QStringLiteral("INFO  ")));
    QVERIFY(helperLog().contains(QStringLiteral("[MainWindow::scheduleSelfDelete] Setup path: \"%1\"").arg(bundle)));
    QVERIFY(helperLog().contains(
        QStringLiteral("[MainWindow::scheduleSelfDelete] self-delete script launched: \"%1\"").arg(scriptPath())));
}

// The pattern handed to pgrep and pkill, tried with an extended regular expression as
// pgrep uses it, against command lines of the removed program and of others.
void TestSelfDelete::onlyTheBundlesProgramIsMatched()
{
    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Salvix Setup");
    QVERIFY(runHelper(executable));
    QVERIFY(scriptEnded());
    const QList<QStringList> pgrep = m_stubs->callsOf(QStringLiteral("pgrep"));
    QVERIFY(!pgrep.isEmpty());
    const QString pattern = pgrep.first().at(1);

    const struct
    {
        QString commandLine;
        bool matches;
    } rows[] = {
        {executable, true},
        {executable + QStringLiteral(" force_upgrade_tool"), true},
        {QStringLiteral("vim ") + executable, false},
        {QStringLiteral("/usr/bin/editor /Users/me/Salvix Setup notes.txt"), false},
        {QStringLiteral("/Volumes/Copy/Salvix Setup.app/Contents/MacOS/Salvix Setup"), false},
        {executable + QStringLiteral(".bak"), false},
        {m_sandbox->applications() + QStringLiteral("/SalvixXSetup.app/Contents/MacOS/Salvix Setup"), false},
        {QStringLiteral("/bin/bash ") + scriptPath(), false},
    };
    for (const auto& row : rows) {
        QProcess grep;
        grep.start(QStringLiteral("grep"), {QStringLiteral("-E"), QStringLiteral("-q"), QStringLiteral("-e"), pattern});
        grep.write(row.commandLine.toUtf8() + '\n');
        grep.closeWriteChannel();
        QVERIFY(grep.waitForFinished(10000));
        QVERIFY2((grep.exitCode() == 0) == row.matches, qPrintable(row.commandLine));
    }
}

void TestSelfDelete::guard_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("twoUp");
    QTest::addColumn<bool>("deleted");

    QTest::newRow("build tree") << "build/tools/bin/Salvix Setup"
                                << "build" << false;
    QTest::newRow("not in Contents/MacOS") << "Foo.app/Contents/Resources/Salvix Setup"
                                           << "Foo.app" << false;
    QTest::newRow("folder not named .app") << "Salvix Setup/Contents/MacOS/Salvix Setup"
                                           << "Salvix Setup" << false;
    QTest::newRow("named .app inside the name") << "Foo.app.d/Contents/MacOS/Salvix Setup"
                                                << "Foo.app.d" << false;
    QTest::newRow("a bundle of another name") << "Foo.app/Contents/MacOS/Salvix Setup"
                                              << "Foo.app" << true;
}

void TestSelfDelete::guard()
{
    QFETCH(QString, executable);
    QFETCH(QString, twoUp);
    QFETCH(bool, deleted);

    const QString folder = m_sandbox->path() + QLatin1Char('/') + twoUp;
    QVERIFY(Sandbox::write(folder + QStringLiteral("/keep.txt"), "mine"));
    QVERIFY(runHelper(m_sandbox->path() + QLatin1Char('/') + executable));
    QVERIFY(scriptEnded());

    QCOMPARE(QFileInfo::exists(folder), !deleted);
    QCOMPARE(m_stubs->callsOf(QStringLiteral("pgrep")).isEmpty(), !deleted);
    QCOMPARE(helperLog().contains(QStringLiteral("WARN  ")), !deleted);
    QCOMPARE(helperLog().contains(QStringLiteral("[MainWindow::scheduleSelfDelete] not running from an application "
                                                 "bundle, nothing deleted: \"%1\"")
                                      .arg(folder)),
             !deleted);
    QCOMPARE(helperLog().contains(QStringLiteral("self-delete script launched")), deleted);
}

// Blanks, quotes, "$", backquotes, backslashes and a line feed in the bundle's path
// stay plain text: that bundle is deleted and nothing else is, and nothing is run.
void TestSelfDelete::unusualBundlePath()
{
    const QString name = QStringLiteral("Salvix 'Setup' \"q\" $(touch pwned) `touch pwned2` $HOME \\ back\nline.app");
    const QString bundle = appPath(name);
    QVERIFY(Sandbox::write(appPath(QStringLiteral("Salvix Setup.app/keep.txt")), "other bundle"));
    QVERIFY(Sandbox::write(appPath(QStringLiteral("Salvix/keep.txt")), "other folder"));
    QVERIFY(Sandbox::write(appPath(QStringLiteral("Salvix 'Setup' \"q\" /keep.txt")), "prefix"));
    QVERIFY(runHelper(bundle + QStringLiteral("/Contents/MacOS/Salvix Setup")));
    QVERIFY(scriptEnded());

    QVERIFY(!QFileInfo::exists(bundle));
    QCOMPARE(QDir(m_sandbox->applications()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({QStringLiteral("Salvix"), QStringLiteral("Salvix 'Setup' \"q\" "),
                          QStringLiteral("Salvix Setup.app")}));
    QVERIFY(!QFileInfo::exists(m_sandbox->path() + QStringLiteral("/pwned")));
    QVERIFY(!QFileInfo::exists(m_sandbox->path() + QStringLiteral("/pwned2")));
    QCOMPARE(QString::fromUtf8(Sandbox::read(scriptLogPath())),
             QStringLiteral("[selfdelete] ✅ 已删除 %1\n").arg(bundle));
}

// A bundle that is gone by the time the script is written gives the fixed place of
// Salvix Setup's bundle instead.
void TestSelfDelete::vanishedBundleFallsBack()
{
    const QString fallback = appPath(QStringLiteral("Salvix Setup.app"));
    QVERIFY(Sandbox::write(fallback + QStringLiteral("/Contents/Info.plist"), Sandbox::infoPlist("3.2.0")));
    QVERIFY(runHelper(appPath(QStringLiteral("Moved.app/Contents/MacOS/Salvix Setup")), {QStringLiteral("gone")}));
    QVERIFY(scriptEnded());

    QVERIFY(!QFileInfo::exists(appPath(QStringLiteral("Moved.app"))));
    QVERIFY(!QFileInfo::exists(fallback));
    QVERIFY(helperLog().contains(QStringLiteral("[MainWindow::scheduleSelfDelete] Setup path: \"%1\"").arg(fallback)));
    QCOMPARE(scriptLog(), QStringList{QStringLiteral("[selfdelete] ✅ 已删除 %1").arg(fallback)});
}

// A folder two levels up that is gone makes the fixed place of Salvix Setup's bundle the
// one to delete only for a program started from inside a bundle.
void TestSelfDelete::vanishedFolderOutsideBundle_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("startedAs"); // argv[0], relative to the sandbox; empty: the executable

    QTest::newRow("build tree") << "build/tools/bin/Salvix Setup" << QString();
    QTest::newRow("not in Contents/MacOS") << "Foo.app/Contents/Resources/Salvix Setup" << QString();
    QTest::newRow("folder not named .app") << "Salvix Setup/Contents/MacOS/Salvix Setup" << QString();
    QTest::newRow("build tree, argv[0] naming a bundle") << "build/tools/bin/Salvix Setup"
                                                         << "Fake.app/Contents/MacOS/Salvix Setup";
}

void TestSelfDelete::vanishedFolderOutsideBundle()
{
    QFETCH(QString, executable);
    QFETCH(QString, startedAs);

    const QString fallback = appPath(QStringLiteral("Salvix Setup.app"));
    QVERIFY(Sandbox::write(fallback + QStringLiteral("/Contents/Info.plist"), Sandbox::infoPlist("3.2.0")));
    const QString started = m_sandbox->path() + QLatin1Char('/') + executable;
    QVERIFY(runHelper(started, {QStringLiteral("gone")},
                      startedAs.isEmpty() ? QString() : m_sandbox->path() + QLatin1Char('/') + startedAs));
    QVERIFY(!QFileInfo::exists(QFileInfo(started).absolutePath() + QStringLiteral("/../..")));
    QVERIFY(scriptEnded());

    QVERIFY(QFileInfo::exists(fallback + QStringLiteral("/Contents/Info.plist")));
    QVERIFY(m_stubs->callsOf(QStringLiteral("pgrep")).isEmpty());
    QVERIFY(!QFileInfo::exists(scriptPath()));
    QVERIFY(helperLog().contains(QStringLiteral("WARN  ")));
    QVERIFY2(helperLog().contains(QStringLiteral("[MainWindow::scheduleSelfDelete] not running from an application "
                                                 "bundle, nothing deleted: \"%1\"")
                                      .arg(started)),
             qPrintable(helperLog()));
    QVERIFY(!helperLog().contains(QStringLiteral("self-delete script launched")));
}

// The wait and the kill see the program by the path it was started by, and nothing that
// merely mentions it: pgrep and pkill as the real ones, over the processes of this test.
void TestSelfDelete::startedByAnotherPath_data()
{
    QTest::addColumn<QString>("workingDirectory"); // relative to the sandbox
    QTest::addColumn<QString>("program"); // as started
    QTest::addColumn<int>("refusedDeletions");

    const QString bundle = QStringLiteral("root/Applications/Salvix Setup.app");
    QTest::newRow("its own path, first deletion refused")
        << QString() << "@SANDBOX@/" + bundle + "/Contents/MacOS/Salvix Setup" << 1;
    QTest::newRow("relative path from Contents/MacOS") << bundle + "/Contents/MacOS"
                                                       << "./Salvix Setup" << 0;
    QTest::newRow("through a linked folder")
        << QString() << "@SANDBOX@/Linked/Salvix Setup.app/Contents/MacOS/Salvix Setup" << 0;
}

void TestSelfDelete::startedByAnotherPath()
{
    QFETCH(QString, workingDirectory);
    QFETCH(QString, program);
    QFETCH(int, refusedDeletions);

    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Salvix Setup");
    QVERIFY(QDir().mkpath(QFileInfo(executable).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral(SELFDELETE_HELPER), executable));
    QVERIFY(QFile::link(m_sandbox->applications(), m_sandbox->path() + QStringLiteral("/Linked")));
    program.replace(QStringLiteral("@SANDBOX@"), m_sandbox->path());
    qputenv("STUB_PIDS", pidsPath().toUtf8());
    qputenv("STUB_SLEEP_REAL", "1");
    qputenv("STUB_RM_TARGET", bundle.toUtf8());
    qputenv("STUB_RM_REFUSE", QByteArray::number(refusedDeletions));

    // Another program whose command line names the program in every way it is started.
    QProcess other;
    QVERIFY(startListed(other, m_sandbox->path(),
                        {QStringLiteral("/bin/bash"), QStringLiteral("-c"), QStringLiteral("read -r -t 120 line"),
                         QStringLiteral("other"), executable, QStringLiteral("./Salvix Setup"),
                         m_sandbox->path() + QStringLiteral("/Linked/Salvix Setup.app/Contents/MacOS/Salvix Setup")}));

    // The program stays three seconds after starting the script: longer than the script's
    // pause before its first deletion.
    QProcess helper;
    QVERIFY(startListed(helper, m_sandbox->path() + QLatin1Char('/') + workingDirectory,
                        {program, helperLogPath(), QStringLiteral("linger"), QStringLiteral("3000")}));
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(Sandbox::read(helperLogPath() + QStringLiteral(".end")), QByteArray("present"));
    QVERIFY(scriptEnded());

    QVERIFY(!QFileInfo::exists(bundle));
    QCOMPARE(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished();

    // The script waited for the program, not for the other one (30 checks).
    const int checks = m_stubs->callsOf(QStringLiteral("pgrep")).size();
    QVERIFY2(checks >= 2 && checks < 10, qPrintable(QString::number(checks)));
    QCOMPARE(m_stubs->callsOf(QStringLiteral("pkill")).size(), refusedDeletions);
    QCOMPARE(scriptLog().size(), refusedDeletions + 1);
    QCOMPARE(scriptLog().last(), QStringLiteral("[selfdelete] ✅ 已删除 %1").arg(bundle));
}

// Control characters in the bundle's path: the process list shows the command line
// altered, so only the program's process id lets the script wait for it.
void TestSelfDelete::waitSeesControlCharacters_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("tab") << QStringLiteral("Salvix\tSetup.app");
    QTest::newRow("line feed") << QStringLiteral("Salvix\nSetup.app");
}

void TestSelfDelete::waitSeesControlCharacters()
{
    QFETCH(QString, name);

    const QString bundle = appPath(name);
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Salvix Setup");
    QVERIFY(QDir().mkpath(QFileInfo(executable).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral(SELFDELETE_HELPER), executable));
    qputenv("STUB_PIDS", pidsPath().toUtf8());
    qputenv("STUB_SLEEP_REAL", "1");

    // Three seconds after starting the script: longer than its pause before deleting.
    QProcess helper;
    QVERIFY(startListed(helper, m_sandbox->path(),
                        {executable, helperLogPath(), QStringLiteral("linger"), QStringLiteral("3000")}));
    const qint64 pid = helper.processId();
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(Sandbox::read(helperLogPath() + QStringLiteral(".end")), QByteArray("present"));
    QVERIFY(scriptEnded());

    QVERIFY(!QFileInfo::exists(bundle));
    QCOMPARE(QString::fromUtf8(Sandbox::read(scriptLogPath())),
             QStringLiteral("[selfdelete] ✅ 已删除 %1\n").arg(bundle));
    const QList<QStringList> ps = m_stubs->callsOf(QStringLiteral("ps"));
    QVERIFY2(ps.size() >= 2 && ps.size() < 10, qPrintable(QString::number(ps.size())));
    QCOMPARE(ps.first(), (QStringList{QStringLiteral("-p"), QString::number(pid)}));
}

// Started with argv[0] naming the installed Salvix: the script neither waits for the
// running Salvix nor kills it.
void TestSelfDelete::startedAsInstalledSalvix()
{
    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Salvix Setup");
    QVERIFY(QDir().mkpath(QFileInfo(executable).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral(SELFDELETE_HELPER), executable));
    const QString salvix = getMainToolPath();
    QVERIFY(QDir().mkpath(QFileInfo(salvix).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), salvix));
    qputenv("STUB_PIDS", pidsPath().toUtf8());
    qputenv("STUB_SLEEP_REAL", "1");
    qputenv("STUB_RM_TARGET", bundle.toUtf8());
    qputenv("STUB_RM_REFUSE", "1");

    QProcess running;
    QVERIFY(startListed(running, m_sandbox->path(), {salvix, QStringLiteral("120")}));
    QProcess helper;
    QVERIFY(startListed(helper, m_sandbox->path(), {executable, helperLogPath()}, salvix));
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);
    QVERIFY(scriptEnded());

    QCOMPARE(running.state(), QProcess::Running);
    running.kill();
    running.waitForFinished();
    QVERIFY(!QFileInfo::exists(bundle));
    const int checks = m_stubs->callsOf(QStringLiteral("pgrep")).size();
    QVERIFY2(checks >= 1 && checks < 10, qPrintable(QString::number(checks)));
    QCOMPARE(m_stubs->callsOf(QStringLiteral("pkill")).size(), 1);
}

// Something at the script's path that cannot be removed (another user's file in the
// shared folder) is neither written to nor run.
void TestSelfDelete::plantedScript()
{
    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QByteArray planted = "#!/bin/bash\ntouch \"$HOME/planted-ran\"\n";
    const QString tmp = m_sandbox->root() + QStringLiteral("/tmp");
    const QString victim = m_sandbox->path() + QStringLiteral("/victim");
    QVERIFY(Sandbox::write(victim, planted));
    QVERIFY(Sandbox::write(scriptPath(), QByteArray()));
    if (m_ownMounts) {
        // Root may remove anything, but no one can remove a mount point.
        QCOMPARE(
            mount(victim.toLocal8Bit().constData(), scriptPath().toLocal8Bit().constData(), nullptr, MS_BIND, nullptr),
            0);
    } else {
        QVERIFY(Sandbox::write(scriptPath(), planted));
        QFile::setPermissions(scriptPath(), QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadOther
                                                | QFileDevice::WriteOther);
        QFile::setPermissions(tmp, QFileDevice::ReadUser | QFileDevice::ExeUser);
    }

    const bool ran = runHelper(bundle + QStringLiteral("/Contents/MacOS/Salvix Setup"));
    QTest::qWait(500);
    if (m_ownMounts)
        umount2(scriptPath().toLocal8Bit().constData(), MNT_DETACH);
    else
        QFile::setPermissions(tmp, QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QVERIFY(ran);

    QCOMPARE(Sandbox::read(m_ownMounts ? victim : scriptPath()), planted);
    QVERIFY(!QFileInfo::exists(m_sandbox->home() + QStringLiteral("/planted-ran")));
    QVERIFY(QFileInfo::exists(bundle));
    QVERIFY(m_stubs->callsOf(QStringLiteral("pgrep")).isEmpty());
    QVERIFY(helperLog().contains(QStringLiteral("WARN  ")));
    QVERIFY(helperLog().contains(QStringLiteral("[MainWindow::scheduleSelfDelete] failed to write script: \"")));
    QVERIFY(!helperLog().contains(QStringLiteral("self-delete script launched")));
}

// The script's log in the shared folder, planted beforehand: nothing is ever written
// through a link, into a FIFO or into another user's file; the bundle goes all the same.
void TestSelfDelete::plantedLog_data()
{
    QTest::addColumn<QString>("planted");

    QTest::newRow("link to a user's file") << "link";
    QTest::newRow("link to a missing file") << "dangling link";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("another user's file") << "other owner";
}

void TestSelfDelete::plantedLog()
{
    QFETCH(QString, planted);

    const QString bundle = appPath(QStringLiteral("Salvix Setup.app"));
    const QString victim = m_sandbox->path() + QStringLiteral("/victim.txt");
    const QByteArray content = "the user's own lines\n";
    if (planted == "link") {
        QVERIFY(Sandbox::write(victim, content));
        QVERIFY(QFile::link(victim, scriptLogPath()));
    } else if (planted == "dangling link") {
        QVERIFY(QFile::link(victim, scriptLogPath()));
    } else if (planted == "fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(scriptLogPath()).constData(), 0666), 0);
    } else {
        if (geteuid() != 0)
            QSKIP("needs root to plant a file of another user");
        QVERIFY(Sandbox::write(scriptLogPath(), content));
        QCOMPARE(chown(QFile::encodeName(scriptLogPath()).constData(), 65534, 65534), 0);
    }

    QVERIFY(runHelper(bundle + QStringLiteral("/Contents/MacOS/Salvix Setup")));
    const bool ended = scriptEnded();
    if (planted == "fifo") {
        // A script that opened the FIFO waits for a reader: give it one, so it ends.
        const int fd = ::open(QFile::encodeName(scriptLogPath()).constData(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    QVERIFY(ended);

    QVERIFY(!QFileInfo::exists(bundle));
    if (planted == "link" || planted == "dangling link") {
        QCOMPARE(QFileInfo(scriptLogPath()).symLinkTarget(), victim);
        QCOMPARE(Sandbox::read(victim), planted == "link" ? content : QByteArray());
        QCOMPARE(QFileInfo::exists(victim), planted == "link");
    } else if (planted == "fifo") {
        struct stat status;
        QVERIFY(::lstat(QFile::encodeName(scriptLogPath()).constData(), &status) == 0 && S_ISFIFO(status.st_mode));
    } else {
        QCOMPARE(Sandbox::read(scriptLogPath()), content);
    }
    QVERIFY(helperLog().contains(QStringLiteral("WARN  ")));
    QVERIFY2(
        helperLog().contains(
            QStringLiteral("[MainWindow::scheduleSelfDelete] script log is not this user's file, not written: \"%1\"")
                .arg(scriptLogPath())),
        qPrintable(helperLog()));
}

QTEST_GUILESS_MAIN(TestSelfDelete)
#include "tst_SelfDelete.moc"
