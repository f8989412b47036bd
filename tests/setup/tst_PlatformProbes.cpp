#include "LogCapture.h"
#include "PlatformProbes.h"
#include "Sandbox.h"

#include <CoreGraphics/CoreGraphics.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

const QString kFrontScript = QStringLiteral("tell application \"System Events\"\n"
                                            "    set frontmost of every process whose name contains \"%1\" to true\n"
                                            "end tell");

} // namespace

class TestPlatformProbes : public QObject
{
    Q_OBJECT

private slots:
    void processProbe();
    void processProbeThroughLinkedFolder_data();
    void processProbeThroughLinkedFolder();
    void checkFileName_data();
    void checkFileName();
    void sha1Check_data();
    void sha1Check();
    void sha1CheckWithoutShasum();
    void launchToolPath_data();
    void launchToolPath();
    void resolutionRule_data();
    void resolutionRule();
    void resolutionLogLine_data();
    void resolutionLogLine();
    void displayQueriesFollowPrimaryScreen();
    void activateWithoutDisplay();
    void activateSendsScript_data();
    void activateSendsScript();
    void activateRaisesMatchingProcesses();
    void primaryLanguage_data();
    void primaryLanguage();
    void fixedAnswers();

private:
    // Starts a copy of sleep at path; the process ends with the test.
    QProcess* startAt(const QString& path);
    std::vector<std::unique_ptr<QProcess>> m_children;
};

QProcess* TestPlatformProbes::startAt(const QString& path)
{
    if (!QFile::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::copy("/bin/sleep", path);
        QFile::setPermissions(path, QFile::permissions("/bin/sleep"));
    }
    auto child = std::make_unique<QProcess>();
    child->start(path, {"30"});
    child->waitForStarted(5000);
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

void TestPlatformProbes::processProbe()
{
    Sandbox sandbox;
    const QString path =
        QFileInfo(sandbox.path()).canonicalFilePath() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    const QString otherCase =
        QFileInfo(sandbox.path()).canonicalFilePath() + "/Salvix Setup.app/Contents/MacOS/salvix Setup";

    QVERIFY(!checkQuilmTolvaneRunning(path));
    QVERIFY(!checkQuilmTolvaneRepeatRunning(path));

    QCOMPARE(startAt(path)->state(), QProcess::Running);
    QVERIFY(checkQuilmTolvaneRunning(path));
    QVERIFY(!checkQuilmTolvaneRepeatRunning(path));
    QVERIFY(!checkQuilmTolvaneRunning(otherCase));

    // A program at the path differing only in letter case is another program.
    QCOMPARE(startAt(otherCase)->state(), QProcess::Running);
    QVERIFY(!checkQuilmTolvaneRepeatRunning(path));
    QVERIFY(checkQuilmTolvaneRunning(otherCase));

    QCOMPARE(startAt(path)->state(), QProcess::Running);
    QVERIFY(checkQuilmTolvaneRepeatRunning(path));

    for (auto& child : m_children) {
        child->kill();
        child->waitForFinished(5000);
    }
    m_children.clear();
    QVERIFY(!checkQuilmTolvaneRunning(path));
}

// "/Applications" may be a link: the path asked about and the path of the running
// program name one file whichever side leads through the link.
void TestPlatformProbes::processProbeThroughLinkedFolder_data()
{
    QTest::addColumn<QString>("started"); // "real" or "link"
    QTest::addColumn<QString>("asked");

    QTest::newRow("asked through the link") << "real"
                                            << "link";
    QTest::newRow("started through the link") << "link"
                                              << "real";
    QTest::newRow("both through the link") << "link"
                                           << "link";
}

void TestPlatformProbes::processProbeThroughLinkedFolder()
{
    QFETCH(QString, started);
    QFETCH(QString, asked);
    Sandbox sandbox;
    const QString real = QFileInfo(sandbox.path()).canonicalFilePath() + "/Volume/Applications";
    const QString link = sandbox.root() + "/Linked";
    QVERIFY(QDir().mkpath(real));
    QVERIFY(QFile::link(real, link));
    const QString program = "/Salvix.app/Contents/MacOS/Salvix";
    const auto place = [&](const QString& side) { return (side == "link" ? link : real) + program; };

    QCOMPARE(startAt(place(started))->state(), QProcess::Running);
    QVERIFY(checkQuilmTolvaneRunning(place(asked)));
    QVERIFY(!checkQuilmTolvaneRepeatRunning(place(asked)));
    QCOMPARE(startAt(place(asked))->state(), QProcess::Running);
    QVERIFY(checkQuilmTolvaneRepeatRunning(place(started)));

    for (auto& child : m_children) {
        child->kill();
        child->waitForFinished(5000);
    }
    m_children.clear();
    QVERIFY(!checkQuilmTolvaneRunning(place(asked)));
}

void TestPlatformProbes::checkFileName_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("checkFile");

    QTest::newRow("upgrade archive") << "/u/Upgrade/Salvix Setup.zip"
                                     << "/u/Upgrade/Salvix Setup.dat";
    QTest::newRow("last extension only") << "/u/a.tar.gz"
                                         << "/u/a.tar.dat";
    QTest::newRow("no dot at all") << "/u/archive"
                                   << "/u/archive.dat";
    QTest::newRow("dot in a folder name") << "/u/v1.2/archive"
                                          << "/u/v1.dat";
}

void TestPlatformProbes::checkFileName()
{
    QFETCH(QString, archive);
    QFETCH(QString, checkFile);
    QCOMPARE(checkFilePathFor(archive), checkFile);
}

void TestPlatformProbes::sha1Check_data()
{
    QTest::addColumn<QString>("checkContent"); // "%1" is the archive's digest
    QTest::addColumn<bool>("upperCase");
    QTest::addColumn<bool>("expected");

    QTest::newRow("digest") << "%1" << false << true;
    QTest::newRow("upper case with trailing newline") << "%1\n" << true << true;
    QTest::newRow("surrounded by blanks") << "  %1 \r\n" << false << true;
    QTest::newRow("digest followed by a name") << "%1  Salvix Setup.zip\n" << false << false;
    QTest::newRow("wrong digest") << "da39a3ee5e6b4b0d3255bfef95601890afd80709" << false << false;
    QTest::newRow("empty check file") << "" << false << false;
    QTest::newRow("no check file") << QString() << false << false;
}

void TestPlatformProbes::sha1Check()
{
    QFETCH(QString, checkContent);
    QFETCH(bool, upperCase);
    QFETCH(bool, expected);

    Sandbox sandbox;
    const QString archive = sandbox.userFolder() + "/Upgrade/Salvix Setup.zip";
    QVERIFY(Sandbox::write(archive, QByteArray("archive bytes ") + QByteArray(5000, 'z')));
    QString digest = QString::fromLatin1(Sandbox::sha1Hex(archive));
    if (upperCase)
        digest = digest.toUpper();
    if (!checkContent.isNull())
        QVERIFY(
            Sandbox::write(sandbox.userFolder() + "/Upgrade/Salvix Setup.dat",
                           checkContent.contains("%1") ? checkContent.arg(digest).toUtf8() : checkContent.toUtf8()));
    QCOMPARE(checkFileSHASumLegacy(archive), expected);
}

void TestPlatformProbes::sha1CheckWithoutShasum()
{
    Sandbox sandbox;
    const QString archive = sandbox.path() + "/a.zip";
    QVERIFY(Sandbox::write(archive, "bytes"));
    QVERIFY(Sandbox::write(sandbox.path() + "/a.dat", Sandbox::sha1Hex(archive)));
    QVERIFY(checkFileSHASumLegacy(archive));

    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", (sandbox.path() + "/nothing-here").toUtf8());
    const bool result = checkFileSHASumLegacy(archive);
    qputenv("PATH", path);
    QVERIFY(!result);
}

void TestPlatformProbes::launchToolPath_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("expected");

    const QByteArray prefix = "INFO  2026-12-10T09:00:00.123 ";
    QTest::newRow("quoted path")
        << prefix
               + "[main] run from path: \"/Applications/Salvix Setup.app/Contents/MacOS/Salvix Setup\" \nINFO  next line\n"
        << "/Applications/Salvix Setup.app/Contents/MacOS/Salvix Setup";
    QTest::newRow("path without quotes") << prefix + "[main] run from path: /opt/Salvix Setup\n"
                                         << "/opt/Salvix Setup";
    QTest::newRow("opening quote only") << prefix + "[main] run from path: \"/opt/a b\n"
                                        << "/opt/a b";
    QTest::newRow("inner quotes stay") << prefix + "[main] run from path: \"/opt/\"x\"\"\n"
                                       << "/opt/\"x\"";
    QTest::newRow("no marker") << prefix + "[main] something else \"/opt/x\"\n"
                               << "";
    QTest::newRow("marker as last text") << prefix + "[main] run from path: \n"
                                         << "";
    QTest::newRow("marker only on the second line") << prefix + "first\n" + prefix + "[main] run from path: \"/x\"\n"
                                                    << "";
    QTest::newRow("empty file") << QByteArray("") << "";
    QTest::newRow("no file") << QByteArray() << "";
}

void TestPlatformProbes::launchToolPath()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, expected);

    Sandbox sandbox;
    if (!log.isNull())
        QVERIFY(Sandbox::write(sandbox.userFolder() + "/quilm_lanuch_log.txt", log));
    QCOMPARE(getLaunchToolPath(), expected);
}

void TestPlatformProbes::resolutionRule_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("inches"); // 16:10 panel of this diagonal; 0 reports no size
    QTest::addColumn<bool>("expected");

    QTest::newRow("2560x1600 at 13.3 inches") << 2560 << 1600 << 13.3 << true;
    QTest::newRow("2560x1600 at 27 inches") << 2560 << 1600 << 27.0 << false;
    QTest::newRow("3840x2160 at 27 inches") << 3840 << 2160 << 27.0 << true;
    QTest::newRow("3840x2160 at 13 inches") << 3840 << 2160 << 13.0 << true;
    QTest::newRow("2100x1600 at 14.0 inches") << 2100 << 1600 << 14.0 << true;
    QTest::newRow("2100x1600 at 14.1 inches") << 2100 << 1600 << 14.1 << false;
    QTest::newRow("2099x1600 at 13 inches") << 2099 << 1600 << 13.0 << false;
    QTest::newRow("2099x1600 without size") << 2099 << 1600 << 0.0 << false;
    QTest::newRow("2100x1599 at 13 inches") << 2100 << 1599 << 13.0 << false;
    QTest::newRow("3840x2159 at 27 inches") << 3840 << 2159 << 27.0 << false;
    QTest::newRow("2560x1600 without size") << 2560 << 1600 << 0.0 << true;
    QTest::newRow("1920x1080 without size") << 1920 << 1080 << 0.0 << false;
}

void TestPlatformProbes::resolutionRule()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, inches);
    QFETCH(bool, expected);

    const double diagonalMm = inches * 25.4;
    const double widthMm = diagonalMm * 16.0 / std::sqrt(16.0 * 16.0 + 10.0 * 10.0);
    const double heightMm = diagonalMm * 10.0 / std::sqrt(16.0 * 16.0 + 10.0 * 10.0);
    QCOMPARE(Check4KResolutionScreen(size_t(width), size_t(height), widthMm, heightMm), expected);
}

void TestPlatformProbes::resolutionLogLine_data()
{
    QTest::addColumn<double>("widthMm");
    QTest::addColumn<double>("heightMm");
    QTest::addColumn<QString>("sizes");
    QTest::addColumn<bool>("expected");

    // QString::arg(double) in its 'g' form: at most six significant digits.
    QTest::newRow("whole millimetres") << 300.0 << 400.0 << "physical length 300mm, width 400mm, inch size 19.685"
                                       << false;
    QTest::newRow("8 inches square") << 203.2 << 203.2 << "physical length 203.2mm, width 203.2mm, inch size 11.3137"
                                     << true;
    QTest::newRow("long fractions") << 286.51234 << 178.96
                                    << "physical length 286.512mm, width 178.96mm, inch size 13.2996" << true;
    QTest::newRow("no size") << 0.0 << 0.0 << "physical length 0mm, width 0mm, inch size 0" << true;
}

void TestPlatformProbes::resolutionLogLine()
{
    QFETCH(double, widthMm);
    QFETCH(double, heightMm);
    QFETCH(QString, sizes);
    QFETCH(bool, expected);

    LogCapture::install();
    LogCapture::flush();
    QCOMPARE(Check4KResolutionScreen(2560, 1600, widthMm, heightMm), expected);
    const QStringList log = LogCapture::flush();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().startsWith("INFO  "), qPrintable(log.first()));
    QVERIFY2(log.first().endsWith(" \"screen pixel width 2560, height 1600, " + sizes + "\" "),
             qPrintable(log.first()));
}

void TestPlatformProbes::displayQueriesFollowPrimaryScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const CGDirectDisplayID display = CGMainDisplayID();
    QCOMPARE(CGDisplayPixelsWide(display), size_t(std::lround(screen->size().width() * screen->devicePixelRatio())));
    QCOMPARE(CGDisplayPixelsHigh(display), size_t(std::lround(screen->size().height() * screen->devicePixelRatio())));
    QCOMPARE(CGDisplayScreenSize(display).width, screen->physicalSize().width());
    QCOMPARE(CGDisplayScreenSize(display).height, screen->physicalSize().height());
    QCOMPARE(CGDisplayPixelsWide(display + 1), size_t(0));
    QCOMPARE(Check4KResolutionScreen(),
             Check4KResolutionScreen(CGDisplayPixelsWide(display), CGDisplayPixelsHigh(display),
                                     CGDisplayScreenSize(display).width, CGDisplayScreenSize(display).height));
}

void TestPlatformProbes::activateWithoutDisplay()
{
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    QVERIFY(!activateWindowToFront("Salvix Engine", "Qt5QWindowIcon"));

    // No "osascript" on the search path at all.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    QVERIFY(!activateWindowToFront("Salvix Engine", "Qt5QWindowIcon"));
    qputenv("PATH", path);
    if (!display.isNull())
        qputenv("DISPLAY", display);
}

// The script is handed over exactly; the result is the program's exit code.
void TestPlatformProbes::activateSendsScript_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("expected");

    QTest::newRow("exit code 0") << 0 << true;
    QTest::newRow("exit code 1") << 1 << false;
}

void TestPlatformProbes::activateSendsScript()
{
    QFETCH(int, status);
    QFETCH(bool, expected);

    Sandbox sandbox;
    const QString record = sandbox.path() + "/osascript.args";
    QVERIFY(
        Sandbox::write(sandbox.path() + "/bin/osascript",
                       QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '%1'\nexit %2\n")
                           .arg(record)
                           .arg(status)
                           .toUtf8()));
    QFile::setPermissions(sandbox.path() + "/bin/osascript", QFile::permissions("/bin/sleep"));

    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", (sandbox.path() + "/bin:/usr/bin:/bin").toUtf8());
    const bool result = activateWindowToFront("Salvix \"Engine\"", "Qt5QWindowIcon");
    qputenv("PATH", path);

    QCOMPARE(result, expected);
    QCOMPARE(Sandbox::read(record), "-e" + QByteArray(1, '\0') + kFrontScript.arg("Salvix \"Engine\"").toUtf8() + '\0');
}

// The stand-in itself, given the same script and as much time as it needs: with a
// recording xdotool and a display named, the windows of every process whose name
// contains the text are activated, and no others. The search path holds nothing but
// xdotool: the caller waits only 3 s, so the stand-in starts no program per process
// and finds not even its interpreter there.
void TestPlatformProbes::activateRaisesMatchingProcesses()
{
    Sandbox sandbox;
    const QString bin = sandbox.path() + "/bin";
    const QString record = sandbox.path() + "/xdotool.log";
    QVERIFY(Sandbox::write(bin + "/xdotool", QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n"
                                                            "if [ \"$1\" = search ]; then echo 4$3; fi\n")
                                                 .arg(record)
                                                 .toUtf8()));
    QFile::setPermissions(bin + "/xdotool", QFile::permissions("/bin/sleep"));

    QProcess* matching = startAt(sandbox.path() + "/apps/My Salvix Engine Copy");
    QProcess* other = startAt(sandbox.path() + "/apps/Unrelated");
    QCOMPARE(matching->state(), QProcess::Running);

    QProcess osascript;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", bin);
    environment.insert("DISPLAY", ":77");
    osascript.setProcessEnvironment(environment);
    osascript.start(QStringLiteral(PLATFORM_TOOLS_DIR) + "/osascript", {"-e", kFrontScript.arg("Salvix Engine")});
    QVERIFY(osascript.waitForFinished(60000));
    QCOMPARE(osascript.exitCode(), 0);

    const QString calls = QString::fromUtf8(Sandbox::read(record));
    QVERIFY2(calls.contains(QStringLiteral("search --pid %1\n").arg(matching->processId())), qPrintable(calls));
    QVERIFY2(calls.contains(QStringLiteral("windowactivate 4%1\n").arg(matching->processId())), qPrintable(calls));
    QVERIFY(!calls.contains(QStringLiteral("--pid %1\n").arg(other->processId())));

    for (auto& child : m_children) {
        child->kill();
        child->waitForFinished(5000);
    }
    m_children.clear();
}

void TestPlatformProbes::primaryLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("expected");

    QTest::newRow("Traditional Chinese") << "zh_TW.UTF-8"
                                         << "zh-Hant-TW";
    QTest::newRow("Simplified Chinese") << "zh_CN.UTF-8"
                                        << "zh-Hans-CN";
    QTest::newRow("English") << "en_US.UTF-8"
                             << "en-US";
}

// The system locale is read once per process: each case runs in a child.
void TestPlatformProbes::primaryLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, expected);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("LANGUAGE");
    env.insert("LC_ALL", language);
    env.insert("LANG", language);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--print-primary-language"});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), expected);
}

void TestPlatformProbes::fixedAnswers()
{
    QCOMPARE(getPlatformStyleName(), QString("macos"));
    errno = ENOENT;
    QCOMPARE(getLastErrorMessage(), QString::fromLocal8Bit(strerror(ENOENT)));
    defragmentMemory();
}

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-primary-language") == 0) {
        QCoreApplication app(argc, argv);
        std::printf("%s\n", qPrintable(getPrimaryLanguage()));
        return 0;
    }
    QGuiApplication app(argc, argv);
    TestPlatformProbes test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PlatformProbes.moc"
