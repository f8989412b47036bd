// Replacing a file by a copy of another with a backup: which targets are refused, and
// that a failed copy leaves the target as it was.

#include "Locations.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "UpgradeFileCopy.h"

#include <QFile>
#include <QTest>

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
    QTest::addColumn<QString>("target"); // "earlier", "source in capitals", "main tool", "missing"
    QTest::addColumn<bool>("staleBackup");
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<QByteArray>("targetAfter");
    QTest::addColumn<QString>("logText");

    QTest::newRow("replaced") << "earlier" << false << true << QByteArray("new") << "copy to patch tool succefully!";
    QTest::newRow("backup name taken: untouched") << "earlier" << true << true << QByteArray("old") << "";
    QTest::newRow("copy fails: restored")
        << "earlier" << false << false << QByteArray("old") << "autoUpgradeSoftware copy to patch tool error:";
    QTest::newRow("target is the source") << "source in capitals" << false << true << QByteArray("new") << "";
    QTest::newRow("target is the main tool") << "main tool" << false << true << QByteArray("main") << "";
    QTest::newRow("target missing") << "missing" << false << true << QByteArray() << "";
}

void TestUpgradeFileCopy::replacesTarget()
{
    QFETCH(QString, target);
    QFETCH(bool, staleBackup);
    QFETCH(bool, sourceExists);
    QFETCH(QByteArray, targetAfter);
    QFETCH(QString, logText);
    Sandbox sandbox;

    QString source = sandbox.path() + "/upgrade/New Setup";
    QVERIFY(QDir().mkpath(sandbox.path() + "/upgrade"));
    if (sourceExists)
        QVERIFY(Sandbox::write(source, "new"));
    const QString backup = source + "_bak";
    if (staleBackup)
        QVERIFY(Sandbox::write(backup, "stale"));
    QVERIFY(Sandbox::write(getMainToolPath(), "main"));

    QString targetPath = sandbox.path() + "/earlier/Salvix Setup";
    if (target == "earlier")
        QVERIFY(Sandbox::write(targetPath, "old"));
    else if (target == "source in capitals")
        targetPath = sandbox.path() + "/upgrade/NEW SETUP";
    else if (target == "main tool")
        targetPath = getMainToolPath().toUpper();

    LogCapture::flush();
    const QString sourceBefore = source;
    copyToUpgradeFileToPatchTool(targetPath, source);
    QCOMPARE(source, sourceBefore);

    const QString checked = target == "main tool"            ? getMainToolPath()
                            : target == "source in capitals" ? source
                                                             : targetPath;
    QCOMPARE(Sandbox::read(checked), targetAfter);
    QCOMPARE(Sandbox::read(getMainToolPath()), QByteArray("main"));
    // The backup never outlives the call, and a stale one is left alone.
    QCOMPARE(QFile::exists(backup), staleBackup);
    if (staleBackup)
        QCOMPARE(Sandbox::read(backup), QByteArray("stale"));

    const QStringList log = LogCapture::flush();
    QCOMPARE(log.filter("autoUpgradeSoftware try to copy patch tool end").size(), 1);
    QCOMPARE(log.filter("autoUpgradeSoftware try to copy patch tool to").size(), 1);
    if (!logText.isEmpty())
        QCOMPARE(log.filter(logText).size(), 1);
    else
        QVERIFY(log.filter("autoUpgradeSoftware copy to patch tool").isEmpty());
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
