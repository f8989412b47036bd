#include "OssFileDownloader.h"
#include "StorageFixtures.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Nimbrel::OssFileDownloader;
using StorageFixtures::codeOf;
using StorageFixtures::randomBytes;
using StorageFixtures::runToEnd;
using StorageFixtures::spiesOf;
using StorageFixtures::WorkerSpies;

static QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestOssFileDownloader : public QObject
{
    Q_OBJECT

private:
    StorageSandbox sandbox;

    // One job of the worker against the sandbox's account, run to its end.
    void download(OssFileDownloader& worker, const WorkerSpies& spies, const std::string& key, const QString& local)
    {
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile(key, local.toStdString()));
        runToEnd(worker, spies);
    }

private slots:
    void initTestCase() { QVERIFY(sandbox.start()); }
    void init() { sandbox.reset(); }

    void downloadIntoFile_data()
    {
        QTest::addColumn<QByteArray>("previous");
        QTest::addColumn<int>("size");
        QTest::newRow("new file") << QByteArray() << 300000;
        QTest::newRow("existing longer file") << randomBytes(500000) << 300000;
        QTest::newRow("empty object") << QByteArray("old content") << 0;
    }
    void downloadIntoFile()
    {
        QFETCH(QByteArray, previous);
        QFETCH(int, size);
        const QByteArray data = randomBytes(size);
        const std::string key = "docs/report-" + std::to_string(size) + ".bin";
        QVERIFY(sandbox.putObject(key, data));
        const QString local = sandbox.filePath(QString("download-%1-%2.bin").arg(size).arg(previous.size()));
        if (!previous.isEmpty())
            QVERIFY(TestConfig::writeFile(local, previous));

        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile(key, local.toStdString()));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(spies.finished.first().at(0).toString(), QString::fromStdString(key));
        QCOMPARE(spies.finished.first().at(1).toString(), local);
        QCOMPARE(fileContent(local), data);
        if (size > 0) {
            QVERIFY(!spies.progress.isEmpty());
            QCOMPARE(spies.progress.last().at(2).toLongLong(), qint64(size));
        }
        // The listed size is the floor of every total.
        for (const QList<QVariant>& report : std::as_const(spies.progress)) {
            QVERIFY(report.at(3).toLongLong() >= size);
            QVERIFY(report.at(2).toLongLong() <= report.at(3).toLongLong());
        }
        QCOMPARE(sandbox.requests("ListObjects").size(), 1);
        QCOMPARE(sandbox.requests("ListObjects").first().query.queryItemValue("prefix", QUrl::FullyDecoded),
                 QString::fromStdString(key));
    }

    void localFileThatIsNoRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("folder") << "folder";
    }
    void localFileThatIsNoRegularFile()
    {
        QFETCH(QString, kind);
        QVERIFY(sandbox.putObject("docs/into-" + kind.toStdString(), randomBytes(300000)));
        const QString local = sandbox.filePath("local-" + kind);
        if (kind == "folder")
            QVERIFY(QDir().mkpath(local));
        else
            QVERIFY(mkfifo(QFile::encodeName(local).constData(), 0600) == 0);

        OssFileDownloader worker;
        // A job that writes the pipe waits for a reader: it gets one here, so
        // that it can end when the test fails.
        const auto drain = qScopeGuard([&] {
            const int fd = ::open(QFile::encodeName(local).constData(), O_RDONLY | O_NONBLOCK);
            char buffer[65536];
            while (fd >= 0 && !worker.wait(10))
                while (::read(fd, buffer, sizeof buffer) > 0) {}
            if (fd >= 0)
                ::close(fd);
        });
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile("docs/into-" + kind.toStdString(), local.toStdString()));
        QTRY_COMPARE_WITH_TIMEOUT(spies.ends(), 1, 5000);
        // As for a file that cannot be opened: the transfer fails.
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(codeOf<OssFileDownloader>(spies.failed.first().at(3)), OssFileDownloader::OssServiceError);
        QVERIFY(spies.failed.first().at(2).toString().contains("stream"));
        QVERIFY(!QFileInfo(local).isFile());
    }

    void listingFailureLeavesLocalFileUntouched()
    {
        QVERIFY(sandbox.putObject("docs/kept.bin", randomBytes(1000)));
        const QString local = sandbox.filePath("kept.bin");
        QVERIFY(TestConfig::writeFile(local, "keep me"));
        sandbox.failNext("ListObjects", 500, "InternalError", "We encountered an internal error. Please try again.");

        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile("docs/kept.bin", local.toStdString()));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 1);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(2).toString(), QStringLiteral("We encountered an internal error. Please try again."));
        QCOMPARE(codeOf<OssFileDownloader>(failure.at(3)), OssFileDownloader::OssServiceError);
        QCOMPARE(fileContent(local), QByteArray("keep me"));
        QVERIFY(sandbox.requests("GetObject").isEmpty());
    }

    void missingObjectFailsWithServiceMessage()
    {
        // The listing finds a longer key with the same prefix; the fetch decides.
        QVERIFY(sandbox.putObject("missing.bin.other", randomBytes(10)));
        const QString local = sandbox.filePath("missing.bin");
        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile("missing.bin", local.toStdString()));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(), QStringLiteral("The specified key does not exist."));
        QCOMPARE(codeOf<OssFileDownloader>(spies.failed.first().at(3)), OssFileDownloader::OssServiceError);
        QCOMPARE(spies.progress.count(), 0);
    }

    void damagedDownloadIsNotLeftComplete()
    {
        const QByteArray data = randomBytes(614407);
        QVERIFY(sandbox.putObject("docs/damaged.bin", data));
        sandbox.corruptDownload("docs/damaged.bin", 1000);
        const QString local = sandbox.filePath("damaged.bin");
        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        download(worker, spies, "docs/damaged.bin", local);

        QCOMPARE(spies.finished.count(), 0);
        QCOMPARE(spies.failed.count(), 1);
        QVERIFY(spies.failed.first().at(2).toString().startsWith("Crc64 validation failed"));
        QCOMPARE(codeOf<OssFileDownloader>(spies.failed.first().at(3)), OssFileDownloader::OssServiceError);
        // A host that only looks at the file must not take it for complete.
        QVERIFY2(QFileInfo(local).size() < data.size(), qPrintable(QString::number(QFileInfo(local).size())));
    }

    void unwritableLocalFileFails()
    {
        QVERIFY(sandbox.putObject("docs/unwritable.bin", randomBytes(3000)));
        const QString local = sandbox.filePath("no-such-folder/unwritable.bin");
        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        download(worker, spies, "docs/unwritable.bin", local);
        // Never a finished signal for a file that was not written.
        QCOMPARE(spies.finished.count(), 0);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(codeOf<OssFileDownloader>(spies.failed.first().at(3)), OssFileDownloader::OssServiceError);
        QVERIFY(!spies.failed.first().at(2).toString().isEmpty());
        QVERIFY(!QFileInfo::exists(local));
    }

    void namesAboveAsciiInEachSignal()
    {
        const std::string key = "fotos/\xc3\xa9t\xc3\xa9.bin";
        const std::string local = sandbox.filePath("caf\xc3\xa9.bin").toUtf8().toStdString();
        QVERIFY(sandbox.putObject(key, randomBytes(2000)));

        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startDownloadFile(key, local));
        runToEnd(worker, spies);
        QCOMPARE(spies.finished.count(), 1);
        // The finished signal decodes UTF-8, the progress signal one byte per character.
        QCOMPARE(spies.finished.first().at(0).toString(), QString::fromUtf8(key.c_str()));
        QCOMPARE(spies.finished.first().at(1).toString(), QString::fromUtf8(local.c_str()));
        QVERIFY(!spies.progress.isEmpty());
        QCOMPARE(spies.progress.first().at(0).toString(), QString::fromLatin1(key.c_str()));
        QCOMPARE(spies.progress.first().at(1).toString(), QString::fromLatin1(local.c_str()));
        QCOMPARE(QFile(QString::fromUtf8(local.c_str())).size(), qint64(2000));

        WorkerSpies again = spiesOf(worker);
        QVERIFY(worker.startDownloadFile(key + ".none", local));
        runToEnd(worker, again);
        QCOMPARE(again.failed.count(), 1);
        QCOMPARE(again.failed.first().at(0).toString(), QString::fromLatin1((key + ".none").c_str()));
        QCOMPARE(again.failed.first().at(1).toString(), QString::fromLatin1(local.c_str()));
    }

    void twoJobsInARow()
    {
        QVERIFY(sandbox.putObject("row/big.bin", randomBytes(400000)));
        QVERIFY(sandbox.putObject("row/small.bin", randomBytes(1000)));
        OssFileDownloader worker;
        worker.setConfigFileName(sandbox.configPath().toStdString());
        {
            WorkerSpies spies = spiesOf(worker);
            QVERIFY(worker.startDownloadFile("row/big.bin", sandbox.filePath("big.bin").toStdString()));
            runToEnd(worker, spies);
            QCOMPARE(spies.finished.count(), 1);
        }
        WorkerSpies spies = spiesOf(worker);
        QVERIFY(worker.startDownloadFile("row/small.bin", sandbox.filePath("small.bin").toStdString()));
        runToEnd(worker, spies);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(QFile(sandbox.filePath("small.bin")).size(), qint64(1000));
        // The second job lists afresh: the first job's size is no floor of it.
        QCOMPARE(sandbox.requests("ListObjects").size(), 2);
        for (const QList<QVariant>& report : std::as_const(spies.progress))
            QCOMPARE(report.at(3).toLongLong(), qint64(1000));
    }

    void startRefusals()
    {
        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(!worker.startDownloadFile("", sandbox.filePath("x").toStdString()));
        QVERIFY(!worker.startDownloadFile("x", ""));
        QVERIFY(!worker.isRunning());

        QVERIFY(sandbox.putObject("busy.bin", randomBytes(5000)));
        sandbox.delayAll("GetObject", 600, "busy.bin");
        QVERIFY(worker.startDownloadFile("busy.bin", sandbox.filePath("busy.bin").toStdString()));
        QVERIFY(!worker.startDownloadFile("other.bin", sandbox.filePath("other.bin").toStdString()));
        runToEnd(worker, spies);
        // The running job was not disturbed.
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(spies.finished.first().at(0).toString(), QStringLiteral("busy.bin"));
    }

    void configurationFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("never set") << "none"
                                   << "Config file name empty";
        QTest::newRow("missing file") << "missing"
                                      << "Config file content error";
        QTest::newRow("not decipherable") << "undecodable"
                                          << "Config file content error";
        QTest::newRow("no account lines") << "unparsable"
                                          << "Config file content error";
        // Never waited for: a pipe without a writer would block the job.
        QTest::newRow("named pipe") << "fifo"
                                    << "Config file content error";
    }
    void configurationFailures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        OssFileDownloader worker;
        WorkerSpies spies = spiesOf(worker);

        // A receiver on the caller's thread gets the code through a queued connection.
        int queuedCode = 0;
        QThread* queuedOn = nullptr;
        connect(&worker, &OssFileDownloader::sigFileDownloadFailed, this,
                [&](const QString&, const QString&, const QString&, OssFileDownloader::OssErrorCode status) {
                    queuedCode = status;
                    queuedOn = QThread::currentThread();
                });
        const QString path = sandbox.filePath(kind + ".cfg");
        QVERIFY(TestConfig::writeFaulty(path, kind));
        if (kind != "none")
            worker.setConfigFileName(path.toStdString());
        QVERIFY(worker.startDownloadFile("docs/any.bin", sandbox.filePath("any.bin").toStdString()));
        runToEnd(worker, spies);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(), message);
        QCOMPARE(codeOf<OssFileDownloader>(spies.failed.first().at(3)), OssFileDownloader::ConfigFileError);
        QTRY_COMPARE(queuedCode, 5);
        QCOMPARE(queuedOn, thread());
        QVERIFY(sandbox.requests().isEmpty());
    }

    void stopDuringSlowTransfer_data()
    {
        QTest::addColumn<bool>("byDestructor");
        QTest::newRow("stop operation") << false;
        QTest::newRow("destructor") << true;
    }
    void stopDuringSlowTransfer()
    {
        QFETCH(bool, byDestructor);
        const std::string key = byDestructor ? "slow-destroyed.bin" : "slow-stopped.bin";
        const QString local = sandbox.filePath(QString::fromStdString(key));
        QVERIFY(sandbox.putObject(key, randomBytes(200000)));
        sandbox.stallDownload(key, 60000, 5);
        auto worker = std::make_unique<OssFileDownloader>();
        WorkerSpies spies = spiesOf(*worker);
        worker->setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker->startDownloadFile(key, local.toStdString()));
        QTRY_VERIFY_WITH_TIMEOUT(!spies.progress.isEmpty(), 10000);

        QElapsedTimer clock;
        clock.start();
        if (byDestructor) {
            worker.reset();
        } else {
            QVERIFY(worker->stopDownloadFile());
            QVERIFY(!worker->isRunning());
        }
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        const int progressSeen = spies.progress.count();
        QTest::qWait(300);
        QCOMPARE(spies.ends(), 0);
        QCOMPARE(spies.progress.count(), progressSeen);
        // The partial local file stays.
        QVERIFY(QFileInfo::exists(local));
        QVERIFY(QFileInfo(local).size() < 200000);
    }

    void stopIdleReturnsAtOnce()
    {
        OssFileDownloader worker;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(worker.stopDownloadFile());
        QVERIFY(clock.elapsed() < 500);
    }
};

QTEST_GUILESS_MAIN(TestOssFileDownloader)
#include "tst_OssFileDownloader.moc"
