// The "xattr" and "open" stand-ins of platform/bin, run as the program runs them.
#include "Sandbox.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <sys/xattr.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString errorText;
};

Run runTool(const QString& name, const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(PLATFORM_TOOLS_DIR "/") + name, arguments);
    Run run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
        run.errorText = QString::fromUtf8(process.readAllStandardError());
    }
    return run;
}

bool setAttribute(const QString& path, const char* name)
{
    return lsetxattr(path.toLocal8Bit().constData(), name, "1", 1, 0) == 0;
}

QStringList attributes(const QString& path)
{
    char names[4096];
    const ssize_t size = llistxattr(path.toLocal8Bit().constData(), names, sizeof names);
    QStringList result;
    for (ssize_t at = 0; at < size; at += qstrlen(names + at) + 1)
        result << QString::fromLatin1(names + at);
    return result.filter(QStringLiteral("user."));
}

} // namespace

class TestStandIns : public QObject
{
    Q_OBJECT

private slots:
    void xattrClearsTheTree();
    void xattrRefuses_data();
    void xattrRefuses();
    void openStartsTheExecutable();
    void openFails_data();
    void openFails();
};

void TestStandIns::xattrClearsTheTree()
{
    Sandbox sandbox;
    const QString bundle = sandbox.applications() + QStringLiteral("/Salvix.app");
    const QString outside = sandbox.path() + QStringLiteral("/outside.txt");
    const QStringList inside = {
        bundle, bundle + QStringLiteral("/Contents"), bundle + QStringLiteral("/Contents/MacOS/Salvix"),
        bundle + QStringLiteral("/Contents/.hidden"), bundle + QStringLiteral("/Contents/Resources/a b/c.png")};
    for (const QString& path : inside.mid(2))
        QVERIFY(Sandbox::write(path, "x"));
    QVERIFY(Sandbox::write(outside, "x"));
    QVERIFY(QFile::link(outside, bundle + QStringLiteral("/Contents/link")));
    if (!setAttribute(outside, "user.keep"))
        QSKIP("this file system has no user extended attributes");
    for (const QString& path : inside) {
        QVERIFY(setAttribute(path, "user.com.apple.quarantine"));
        QVERIFY(setAttribute(path, "user.other"));
    }

    const Run run = runTool(QStringLiteral("xattr"), {QStringLiteral("-cr"), bundle});
    QCOMPARE(run.exitCode, 0);
    for (const QString& path : inside)
        QVERIFY2(attributes(path).isEmpty(), qPrintable(path));
    // The link is not followed.
    QCOMPARE(attributes(outside), QStringList{QStringLiteral("user.keep")});
}

void TestStandIns::xattrRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no arguments") << QStringList() << 2 << "only supports";
    QTest::newRow("-c alone") << QStringList{"-c", "BUNDLE"} << 2 << "only supports";
    QTest::newRow("-r alone") << QStringList{"-r", "BUNDLE"} << 2 << "only supports";
    QTest::newRow("no path") << QStringList{"-cr"} << 2 << "only supports";
    QTest::newRow("another option") << QStringList{"-crl", "BUNDLE"} << 2 << "only supports";
    QTest::newRow("a listing") << QStringList{"-l", "BUNDLE"} << 2 << "only supports";
    QTest::newRow("missing path") << QStringList{"-cr", "BUNDLE/none"} << 1 << "No such file";
}

void TestStandIns::xattrRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sandbox sandbox;
    const QString bundle = sandbox.applications() + QStringLiteral("/Salvix.app");
    QVERIFY(Sandbox::write(bundle + QStringLiteral("/f"), "x"));
    const bool attributesWork = setAttribute(bundle + QStringLiteral("/f"), "user.keep");
    arguments.replaceInStrings(QStringLiteral("BUNDLE"), bundle);

    const Run run = runTool(QStringLiteral("xattr"), arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errorText.startsWith(QStringLiteral("xattr: ")) && run.errorText.contains(message),
             qPrintable(run.errorText));
    if (attributesWork)
        QCOMPARE(attributes(bundle + QStringLiteral("/f")), QStringList{QStringLiteral("user.keep")});
}

// Started detached: in a session of its own, with exactly the arguments after --args.
void TestStandIns::openStartsTheExecutable()
{
    Sandbox sandbox;
    const QString bundle = sandbox.applications() + QStringLiteral("/Salvix.app");
    const QString record = sandbox.path() + QStringLiteral("/started");
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Runner");
    QVERIFY(Sandbox::write(bundle + QStringLiteral("/Contents/Info.plist"),
                           Sandbox::infoPlist("3.2.0").replace("<dict>\n", "<dict>\n    <key>CFBundleExecutable</key>\n"
                                                                           "    <string>Runner</string>\n")));
    QVERIFY(Sandbox::write(executable, "#!/bin/bash\n"
                                       "read -r -a stat < /proc/$$/stat\n"
                                       "{ printf '%s\\n' \"$$ ${stat[5]}\"; printf '%s\\n' \"$@\"; } > \"$0.tmp\"\n"
                                       "mv \"$0.tmp\" \""
                                           + record.toUtf8() + "\"\n"));
    QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const Run run =
        runTool(QStringLiteral("open"), {bundle, QStringLiteral("--args"), bundle + QStringLiteral("/Contents/MacOS"),
                                         QStringLiteral("delete_upgrade_file"), QStringLiteral("two words")});
    QCOMPARE(run.exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 20000);
    QStringList lines = QString::fromUtf8(Sandbox::read(record)).split(QLatin1Char('\n'));
    const QStringList ids = lines.takeFirst().split(QLatin1Char(' '));
    QCOMPARE(ids.size(), 2);
    QCOMPARE(ids.at(1), ids.at(0)); // the session's leader
    QCOMPARE(lines, QStringList({bundle + QStringLiteral("/Contents/MacOS"), QStringLiteral("delete_upgrade_file"),
                                 QStringLiteral("two words"), QString()}));
}

void TestStandIns::openFails_data()
{
    QTest::addColumn<QByteArray>("plist");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QByteArray named = Sandbox::infoPlist("3.2.0").replace(
        "<dict>\n", "<dict>\n    <key>CFBundleExecutable</key>\n    <string>Runner</string>\n");
    const QStringList usual = {"BUNDLE", "--args", "x"};
    QTest::newRow("no bundle") << QByteArray() << false << QStringList{"BUNDLE/../None.app", "--args"}
                               << "does not exist";
    QTest::newRow("no Info.plist") << QByteArray() << true << usual << "cannot read";
    QTest::newRow("no executable named") << Sandbox::infoPlist("3.2.0") << true << usual << "names no executable";
    QTest::newRow("executable missing") << named << false << usual << "no executable file";
    QTest::newRow("not a property list") << QByteArray("<plist") << true << usual << "cannot read";
    QTest::newRow("an option") << named << true << QStringList{"-a", "BUNDLE"} << "only supports";
    QTest::newRow("arguments without --args") << named << true << QStringList{"BUNDLE", "x"} << "only supports";
}

void TestStandIns::openFails()
{
    QFETCH(QByteArray, plist);
    QFETCH(bool, executable);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    Sandbox sandbox;
    const QString bundle = sandbox.applications() + QStringLiteral("/Salvix.app");
    QVERIFY(QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS")));
    if (!plist.isEmpty())
        QVERIFY(Sandbox::write(bundle + QStringLiteral("/Contents/Info.plist"), plist));
    const QString runner = bundle + QStringLiteral("/Contents/MacOS/Runner");
    if (executable) {
        QVERIFY(Sandbox::write(runner, "#!/bin/bash\ntouch \"$0.ran\"\n"));
        QFile::setPermissions(runner, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    arguments.replaceInStrings(QStringLiteral("BUNDLE"), bundle);

    const Run run = runTool(QStringLiteral("open"), arguments);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errorText.startsWith(QStringLiteral("open: ")) && run.errorText.contains(message),
             qPrintable(run.errorText));
    QTest::qWait(200);
    QVERIFY(!QFileInfo::exists(runner + QStringLiteral(".ran")));
}

QTEST_GUILESS_MAIN(TestStandIns)
#include "tst_StandIns.moc"
