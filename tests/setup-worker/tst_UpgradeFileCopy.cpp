// Replacing a file by a copy of another with a backup: which targets are refused, and
// that a failed copy leaves the target as it was. Hostile launch paths and planted
// links and FIFOs are left alone.

#include "Locations.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "UpgradeFileCopy.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kRefused = QStringLiteral("autoUpgradeSoftware left alone, not an earlier Salvix Setup:");

} // namespace

class TestUpgradeFileCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LogCapture::install(); }
    void replacesTarget_data();
    void replacesTarget();
    void emptyTargetOnlyLogsStartAndEnd();
};

void TestUpgradeFileCopy::replacesTarget_data()
{
    // target: "earlier" (a Salvix Setup in a bundle), "source in capitals", "main tool",
    // "missing", or one of the hostile launch paths below
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("staleBackup");
    QTest::addColumn<QString>("source"); // "file", "missing" or "fifo"
    QTest::addColumn<QByteArray>("targetAfter");
    QTest::addColumn<QString>("logText");

    const QString refused = kRefused;
    QTest::newRow("replaced") << "earlier" << false << "file" << QByteArray("new") << "copy to patch tool succefully!";
    QTest::newRow("backup name taken: untouched") << "earlier" << true << "file" << QByteArray("old") << "";
    QTest::newRow("copy fails: restored")
        << "earlier" << false << "missing" << QByteArray("old") << "autoUpgradeSoftware copy to patch tool error:";
    QTest::newRow("source is a FIFO") << "earlier" << false << "fifo" << QByteArray("old")
                                      << "autoUpgradeSoftware copy to patch tool error:";
    QTest::newRow("target is the source") << "source in capitals" << false << "file" << QByteArray("new") << refused;
    QTest::newRow("target is the main tool") << "main tool" << false << "file" << QByteArray("main") << refused;
    QTest::newRow("target missing") << "missing" << false << "file" << QByteArray() << refused;
    QTest::newRow("relative path") << "relative" << false << "file" << QByteArray("old") << refused;
    QTest::newRow("a user's document") << "document" << false << "file" << QByteArray("doc") << refused;
    QTest::newRow("another program of a bundle") << "helper" << false << "file" << QByteArray("helper") << refused;
    QTest::newRow("main tool with a doubled slash")
        << "main tool //" << false << "file" << QByteArray("main") << refused;
    QTest::newRow("hard link to the main tool") << "hard link" << false << "file" << QByteArray("main") << refused;
    QTest::newRow("link to a document") << "link" << false << "file" << QByteArray("doc") << refused;
    QTest::newRow("FIFO") << "fifo" << false << "file" << QByteArray() << refused;
}

void TestUpgradeFileCopy::replacesTarget()
{
    QFETCH(QString, target);
    QFETCH(bool, staleBackup);
    QFETCH(QString, source);
    QFETCH(QByteArray, targetAfter);
    QFETCH(QString, logText);
    Sandbox sandbox;

    QString sourcePath = sandbox.path() + "/upgrade/New Setup";
    QVERIFY(QDir().mkpath(sandbox.path() + "/upgrade"));
    if (source == "file")
        QVERIFY(Sandbox::write(sourcePath, "new"));
    else if (source == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(sourcePath).constData(), 0600), 0);
    const QString backup = sourcePath + "_bak";
    if (staleBackup)
        QVERIFY(Sandbox::write(backup, "stale"));
    QVERIFY(Sandbox::write(getMainToolPath(), "main"));
    const QString document = sandbox.path() + "/Documents/report.txt";
    QVERIFY(Sandbox::write(document, "doc"));

    const QString bundleProgram = "Earlier.app/Contents/MacOS/Salvix Setup";
    QString targetPath = sandbox.path() + "/" + bundleProgram;
    QVERIFY(QDir().mkpath(QFileInfo(targetPath).path()));
    if (target == "earlier" || target == "relative")
        QVERIFY(Sandbox::write(targetPath, "old"));
    if (target == "source in capitals")
        targetPath = sandbox.path() + "/upgrade/NEW SETUP";
    else if (target == "main tool")
        targetPath = getMainToolPath().toUpper();
    else if (target == "main tool //")
        targetPath = QFileInfo(getMainToolPath()).path() + "//" + QFileInfo(getMainToolPath()).fileName();
    else if (target == "relative")
        targetPath = bundleProgram;
    else if (target == "document")
        targetPath = document;
    else if (target == "helper")
        QVERIFY(Sandbox::write(targetPath = QFileInfo(targetPath).path() + "/Salvix Helper", "helper"));
    else if (target == "hard link")
        QCOMPARE(link(QFile::encodeName(getMainToolPath()).constData(), QFile::encodeName(targetPath).constData()), 0);
    else if (target == "link")
        QVERIFY(QFile::link(document, targetPath));
    else if (target == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(targetPath).constData(), 0600), 0);
    const QString checked = target == "main tool"            ? getMainToolPath()
                            : target == "source in capitals" ? sourcePath
                            : target == "relative"           ? sandbox.path() + "/" + bundleProgram
                                                             : targetPath;

    // A reader that opens a FIFO would wait for a writer for good: one comes after a
    // while, so that such a fault ends and shows.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100 && !done; ++i)
            QThread::msleep(50);
        for (const QString& fifo : {sourcePath, checked}) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    LogCapture::flush();
    const QString sourceBefore = sourcePath;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(sandbox.path());
    QElapsedTimer timer;
    timer.start();
    copyToUpgradeFileToPatchTool(targetPath, sourcePath);
    const bool waitedForWriter = timer.elapsed() >= 5000;
    QDir::setCurrent(cwd);
    done = true;
    writer.join();
    QCOMPARE(sourcePath, sourceBefore);

    QVERIFY(!waitedForWriter);
    if (target == "fifo") {
        QVERIFY(QFileInfo(checked).isFile() == false && QFileInfo::exists(checked));
        QVERIFY(!QFileInfo(checked).isSymLink());
    } else {
        QCOMPARE(Sandbox::read(checked), targetAfter);
    }
    QCOMPARE(QFileInfo(checked).isSymLink(), target == "link");
    QCOMPARE(Sandbox::read(getMainToolPath()), QByteArray("main"));
    QCOMPARE(Sandbox::read(document), QByteArray("doc"));
    // The backup never outlives the call, and a stale one is left alone; nothing else is
    // left beside the target.
    QCOMPARE(QFile::exists(backup), staleBackup);
    if (staleBackup)
        QCOMPARE(Sandbox::read(backup), QByteArray("stale"));
    const QStringList beside = QDir(QFileInfo(checked).path())
                                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QVERIFY2(beside.filter(".Salvix Setup.").isEmpty(), qPrintable(beside.join(',')));

    const QStringList log = LogCapture::flush();
    QCOMPARE(log.filter("autoUpgradeSoftware try to copy patch tool end").size(), 1);
    QCOMPARE(log.filter("autoUpgradeSoftware try to copy patch tool to").size(), 1);
    if (logText == kRefused) {
        QCOMPARE(
            log.filter(QRegularExpression("^WARN .*" + QRegularExpression::escape(logText + " \"" + targetPath + "\"")))
                .size(),
            1);
        QVERIFY(log.filter("autoUpgradeSoftware copy to patch tool").isEmpty());
    } else if (!logText.isEmpty()) {
        QCOMPARE(log.filter(logText).size(), 1);
    } else {
        QVERIFY(log.filter("autoUpgradeSoftware copy to patch tool").isEmpty());
    }
}

void TestUpgradeFileCopy::emptyTargetOnlyLogsStartAndEnd()
{
    Sandbox sandbox;
    QString source = sandbox.path() + "/upgrade/New Setup";
    QVERIFY(Sandbox::write(source, "new"));
    QString target;
    LogCapture::flush();
    copyToUpgradeFileToPatchTool(target, source);

    const QStringList log = LogCapture::flush().filter("autoUpgradeSoftware");
    QCOMPARE(log.size(), 2);
    QVERIFY(log.at(0).contains("autoUpgradeSoftware try to copy patch tool "));
    QVERIFY(log.at(1).contains("autoUpgradeSoftware try to copy patch tool end"));
    QVERIFY(!QFile::exists(source + "_bak"));
    QCOMPARE(Sandbox::read(source), QByteArray("new"));
}

QTEST_GUILESS_MAIN(TestUpgradeFileCopy)
#include "tst_UpgradeFileCopy.moc"
