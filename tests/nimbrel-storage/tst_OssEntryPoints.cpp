#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The entry points run in a copy of a small host program inside a sandbox,
// so that the server log lands under the sandbox's application folder.
class TestOssEntryPoints : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir sandbox;
    int runCount = 0;

    // Runs the host in a fresh application folder; returns that folder.
    QString runHost(const QStringList& arguments, bool makeLogAFile = false)
    {
        const QString appDir = sandbox.filePath(QString("app%1").arg(++runCount));
        if (!QDir().mkpath(appDir))
            return QString();
        const QString host = appDir + "/storage-host-probe";
        if (!QFile::copy(QStringLiteral(STORAGE_HOST_PROBE), host))
            return QString();
        if (makeLogAFile && !QFile(appDir + "/log").open(QIODevice::WriteOnly))
            return QString();
        QProcess process;
        process.start(host, arguments);
        if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString();
        return appDir;
    }
    static QString serverLogName()
    {
        return QString("/log/server%1.txt").arg(QDate::currentDate().toString("yyyy-MM-dd"));
    }
    static QStringList linesOf(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() { QVERIFY(sandbox.isValid()); }

    void serverLogUnderApplicationFolder()
    {
        const QString appDir = runHost({"true"});
        QVERIFY(!appDir.isEmpty());
        const QStringList lines = linesOf(appDir + serverLogName());
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith("INFO  "));
        QVERIFY(lines.at(0).contains(" [ Nimbrel ] OssInitialize called......"));
        QVERIFY(lines.at(1).contains("[probe] host line"));
        QVERIFY(lines.at(2).contains(" [ Nimbrel ] OssUninitialize called......"));
        // Nothing else in the folder: no rotation yet, no other file.
        QCOMPARE(QDir(appDir + "/log").entryList(QDir::Files).size(), 1);
    }

    void withoutFileLogNothingIsWritten()
    {
        const QString appDir = runHost({"false"});
        QVERIFY(!appDir.isEmpty());
        QVERIFY(!QFileInfo::exists(appDir + "/log"));
    }

    void secondCallAddsASecondDestination()
    {
        const QString appDir = runHost({"true", "true"});
        QVERIFY(!appDir.isEmpty());
        const QStringList lines = linesOf(appDir + serverLogName());
        // Every line from the second call on goes through both destinations into
        // one file; the first call's line too when the writer thread takes it late.
        const qsizetype initialized = lines.filter("OssInitialize called").size();
        QVERIFY2(initialized == 3 || initialized == 4, qPrintable(QString::number(initialized)));
        QCOMPARE(lines.filter("[probe] host line").size(), 2);
        QCOMPARE(lines.filter("OssUninitialize called").size(), 2);
    }

    void uncreatableLogFolderStillSucceeds()
    {
        // A plain file named "log" stands in the way; the entry points still return true.
        const QString appDir = runHost({"true"}, true);
        QVERIFY(!appDir.isEmpty());
        QVERIFY(QFileInfo(appDir + "/log").isFile());
    }
};

QTEST_GUILESS_MAIN(TestOssEntryPoints)
#include "tst_OssEntryPoints.moc"
