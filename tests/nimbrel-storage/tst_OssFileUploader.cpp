#include "OssFileUploader.h"
#include "StorageFixtures.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>

#include <sys/stat.h>

using Nimbrel::OssFileUploader;
using StorageFixtures::codeOf;
using StorageFixtures::runToEnd;
using StorageFixtures::spiesOf;
using StorageFixtures::WorkerSpies;

// Content of its own, apart from the downloader test's.
static QByteArray randomBytes(int size)
{
    return StorageFixtures::randomBytes(size, 7);
}

class TestOssFileUploader : public QObject
{
    Q_OBJECT

private:
    StorageSandbox sandbox;

    QString localFile(const QString& name, const QByteArray& data)
    {
        const QString path = sandbox.filePath(name);
        return TestConfig::writeFile(path, data) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(sandbox.start()); }
    void init() { sandbox.reset(); }

    void uploadWhole_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty file") << 0;
        QTest::newRow("small file") << 1234;
        QTest::newRow("larger than a part") << 250000;
    }
    void uploadWhole()
    {
        QFETCH(int, size);
        const QByteArray data = randomBytes(size);
        const QString local = localFile(QString("whole-%1.bin").arg(size), data);
        const std::string key = "up/whole-" + std::to_string(size) + ".bin";
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startUploadFile(local.toStdString(), key));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(spies.finished.first().at(0).toString(), local);
        QCOMPARE(spies.finished.first().at(1).toString(), QString::fromStdString(key));
        QCOMPARE(sandbox.object(key), std::optional<QByteArray>(data));
        QCOMPARE(sandbox.requests("PutObject").size(), 1);
        QVERIFY(sandbox.requests("UploadPart").isEmpty());
        if (size > 0) {
            QVERIFY(!spies.progress.isEmpty());
            QCOMPARE(spies.progress.last().at(2).toLongLong(), qint64(size));
            QCOMPARE(spies.progress.last().at(3).toLongLong(), qint64(size));
        }
    }

    void uploadInParts_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("parts");
        QTest::newRow("one short part") << 5000 << 1;
        QTest::newRow("exactly two parts") << 2 * 102400 << 2;
        QTest::newRow("two parts and one byte") << 2 * 102400 + 1 << 3;
    }
    void uploadInParts()
    {
        QFETCH(int, size);
        QFETCH(int, parts);
        const QByteArray data = randomBytes(size);
        const QString local = localFile(QString("parts-%1.bin").arg(size), data);
        const std::string key = "up/parts-" + std::to_string(size) + ".bin";
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.SetMultipart(true));
        QVERIFY(worker.startUploadFile(local.toStdString(), key));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(sandbox.object(key), std::optional<QByteArray>(data));
        const QList<RecordedRequest> uploaded = sandbox.requests("UploadPart");
        QCOMPARE(uploaded.size(), parts);
        for (int i = 0; i < parts; ++i)
            QCOMPARE(uploaded.at(i).query.queryItemValue("partNumber"), QString::number(i + 1));
        QCOMPARE(sandbox.requests("CompleteMultipartUpload").size(), 1);
        QVERIFY(sandbox.requests("PutObject").isEmpty());
        // Every part reports on its own, never above one part.
        for (const QList<QVariant>& report : std::as_const(spies.progress))
            QVERIFY(report.at(2).toLongLong() <= 102400);
    }

    void emptyFileInParts()
    {
        // No part at all: the completion's outcome decides (the service refuses an empty list).
        const QString local = localFile("parts-empty.bin", QByteArray());
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.SetMultipart(true);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/parts-empty.bin"));
        runToEnd(worker, spies);
        QCOMPARE(sandbox.requests("InitiateMultipartUpload").size(), 1);
        QVERIFY(sandbox.requests("UploadPart").isEmpty());
        QCOMPARE(sandbox.requests("CompleteMultipartUpload").size(), 1);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
        QVERIFY(!spies.failed.first().at(2).toString().isEmpty());
    }

    void refusedPartStopsBeforeCompletion()
    {
        const QString local = localFile("refused-part.bin", randomBytes(3 * 102400));
        sandbox.failNext("UploadPart", 503, "ServiceUnavailable", "Please reduce your request rate.", 1);
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.SetMultipart(true);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/refused-part.bin"));
        runToEnd(worker, spies);

        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(), QStringLiteral("Please reduce your request rate."));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
        QCOMPARE(sandbox.requests("UploadPart").size(), 2);
        QVERIFY(sandbox.requests("CompleteMultipartUpload").isEmpty());
        QVERIFY(!sandbox.object("up/refused-part.bin"));
    }

    // Each part opens the local file anew: a name swapped for a named pipe after
    // the start's check fails the job at once instead of blocking it.
    void localFileSwappedForAPipeDuringTheJob()
    {
        const QString local = localFile("swapped.bin", randomBytes(3 * 102400));
        const QString pipe = sandbox.filePath("swapped.fifo");
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        std::atomic<bool> swapped{false};
        // On the job's thread, while the first part is sent.
        connect(
            &worker, &OssFileUploader::sigFileUploadProgress, &worker,
            [&] {
                if (!swapped)
                    swapped = ::rename(QFile::encodeName(pipe).constData(), QFile::encodeName(local).constData()) == 0;
            },
            Qt::DirectConnection);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.SetMultipart(true);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/swapped.bin"));
        const bool ended = QTest::qWaitFor([&] { return spies.ends() > 0; }, 10000);
        if (!ended) {
            // A job blocked opening the pipe: a writer that comes and goes lets it go on.
            QFile writer(local);
            QVERIFY(writer.open(QIODevice::WriteOnly));
            writer.close();
        }
        runToEnd(worker, spies);
        QVERIFY2(ended, "the job blocked on the named pipe");
        QVERIFY(swapped);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
        QVERIFY(!sandbox.object("up/swapped.bin"));
    }

    // A refused initiation is not reported by itself: the parts go out with an
    // empty upload id and the first refused one ends the job.
    void refusedInitiationEndsAtTheFirstPart()
    {
        const QString local = localFile("refused-initiate.bin", randomBytes(2 * 102400 + 1));
        sandbox.failNext("InitiateMultipartUpload", 500, "InternalError", "Initiation is down.");
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.SetMultipart(true);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/refused-initiate.bin"));
        runToEnd(worker, spies);

        QCOMPARE(spies.finished.count(), 0);
        QCOMPARE(spies.failed.count(), 1);
        QVERIFY(spies.failed.first().at(2).toString() != QStringLiteral("Initiation is down."));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
        QCOMPARE(sandbox.requests("InitiateMultipartUpload").size(), 1);
        QCOMPARE(sandbox.requests("UploadPart").size(), 1);
        QVERIFY(sandbox.requests("CompleteMultipartUpload").isEmpty());
    }

    void refusedCompletion()
    {
        const QString local = localFile("refused-complete.bin", randomBytes(102400 + 10));
        sandbox.failNext("CompleteMultipartUpload", 400, "InvalidPart",
                         "One or more of the specified parts could not be found");
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.SetMultipart(true);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/refused-complete.bin"));
        runToEnd(worker, spies);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(),
                 QStringLiteral("One or more of the specified parts could not be found"));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
        QCOMPARE(sandbox.requests("UploadPart").size(), 2);
    }

    void refusedWholeUpload()
    {
        const QString local = localFile("refused-whole.bin", randomBytes(100));
        sandbox.failNext("PutObject", 403, "AccessDenied", "You have no right to access this object.");
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/refused-whole.bin"));
        runToEnd(worker, spies);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(), QStringLiteral("You have no right to access this object."));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::OssServiceError);
    }

    void startRefusalsBeforeReturn_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("code");
        QTest::newRow("empty local name") << ""
                                          << "up/x.bin"
                                          << "invalid param" << 8;
        QTest::newRow("empty remote name") << "exists.bin"
                                           << ""
                                           << "invalid param" << 8;
        QTest::newRow("missing local file") << "no-such-file.bin"
                                            << "up/x.bin"
                                            << "open local file failed" << 4;
        // A folder opens for reading but is no file to upload.
        QTest::newRow("folder as local file") << "."
                                              << "up/x.bin"
                                              << "open local file failed" << 4;
        // No regular file either: a device has no end, a named pipe's open waits for a writer.
        QTest::newRow("device as local file") << "device.bin"
                                              << "up/x.bin"
                                              << "open local file failed" << 4;
        QTest::newRow("named pipe as local file") << "pipe.bin"
                                                  << "up/x.bin"
                                                  << "open local file failed" << 4;
    }
    void startRefusalsBeforeReturn()
    {
        QFETCH(QString, local);
        QFETCH(QString, remote);
        QFETCH(QString, message);
        QFETCH(int, code);
        QVERIFY(!localFile("exists.bin", "data").isEmpty());
        QFile::remove(sandbox.filePath("device.bin"));
        QVERIFY(QFile::link("/dev/zero", sandbox.filePath("device.bin")));
        QFile::remove(sandbox.filePath("pipe.bin"));
        QCOMPARE(mkfifo(QFile::encodeName(sandbox.filePath("pipe.bin")).constData(), 0600), 0);
        const QString localPath = local.isEmpty() ? QString() : sandbox.filePath(local);
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        QThread* emittedOn = nullptr;
        connect(
            &worker, &OssFileUploader::sigFileUploadFailed, this,
            [&emittedOn] { emittedOn = QThread::currentThread(); }, Qt::DirectConnection);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(!worker.startUploadFile(localPath.toStdString(), remote.toStdString()));
        // Emitted before the operation returned, on the caller's thread.
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(emittedOn, QThread::currentThread());
        QCOMPARE(spies.failed.first().at(0).toString(), localPath);
        QCOMPARE(spies.failed.first().at(1).toString(), remote);
        QCOMPARE(spies.failed.first().at(2).toString(), message);
        QCOMPARE(int(codeOf<OssFileUploader>(spies.failed.first().at(3))), code);
        QVERIFY(!worker.isRunning());
    }

    void startWhileRunningIsRefused()
    {
        const QString local = localFile("busy.bin", randomBytes(1000));
        sandbox.delayAll("PutObject", 600);
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/busy.bin"));
        QVERIFY(!worker.startUploadFile(local.toStdString(), "up/other.bin"));
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(1).toString(), QStringLiteral("up/other.bin"));
        QCOMPARE(spies.failed.first().at(2).toString(), QStringLiteral("thread is running"));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::FileOperationError);
        // An empty name is tested first, even while a job runs.
        QVERIFY(!worker.startUploadFile("", "up/other.bin"));
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.last().at(3)), OssFileUploader::InvalidParameter);

        QTRY_COMPARE_WITH_TIMEOUT(spies.finished.count(), 1, 10000);
        QCOMPARE(spies.finished.first().at(1).toString(), QStringLiteral("up/busy.bin"));
    }

    void namesAboveAsciiAsLatin1()
    {
        const std::string local = sandbox.filePath("gr\xc3\xbc\xc3\x9f.bin").toUtf8().toStdString();
        QVERIFY(TestConfig::writeFile(QString::fromUtf8(local.c_str()), randomBytes(500)));
        const std::string key = "up/\xe4\xb8\xad\xe6\x96\x87.bin";
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startUploadFile(local, key));
        runToEnd(worker, spies);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(spies.finished.first().at(0).toString(), QString::fromLatin1(local.c_str()));
        QCOMPARE(spies.finished.first().at(1).toString(), QString::fromLatin1(key.c_str()));
        QVERIFY(!spies.progress.isEmpty());
        QCOMPARE(spies.progress.first().at(0).toString(), QString::fromLatin1(local.c_str()));
        QVERIFY(sandbox.object(key));

        QVERIFY(!worker.startUploadFile(local + ".none", key));
        QCOMPARE(spies.failed.last().at(0).toString(), QString::fromLatin1((local + ".none").c_str()));
    }

    void configurationFailures_data()
    {
        QTest::addColumn<bool>("multipart");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        for (bool multipart : {false, true}) {
            const char* mode = multipart ? "parts: " : "whole: ";
            QTest::addRow("%snever set", mode) << multipart << "none"
                                               << "Config file name empty";
            QTest::addRow("%smissing file", mode) << multipart << "missing"
                                                  << "Config file content error";
            QTest::addRow("%snot decipherable", mode) << multipart << "undecodable"
                                                      << "Config file content error";
            QTest::addRow("%sno account lines", mode) << multipart << "unparsable"
                                                      << "Config file content error";
            QTest::addRow("%snamed pipe", mode) << multipart << "fifo"
                                                << "Config file content error";
        }
    }
    void configurationFailures()
    {
        QFETCH(bool, multipart);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString local = localFile("config-case.bin", "payload");
        const QString path = sandbox.filePath(kind + ".cfg");
        QVERIFY(TestConfig::writeFaulty(path, kind));
        OssFileUploader worker;
        WorkerSpies spies = spiesOf(worker);

        // A receiver on the caller's thread gets the code through a queued connection.
        int queuedCode = 0;
        QThread* queuedOn = nullptr;
        connect(&worker, &OssFileUploader::sigFileUploadFailed, this,
                [&](const QString&, const QString&, const QString&, OssFileUploader::OssErrorCode status) {
                    queuedCode = status;
                    queuedOn = QThread::currentThread();
                });
        if (kind != "none")
            worker.setConfigFileName(path.toStdString());
        worker.SetMultipart(multipart);
        QVERIFY(worker.startUploadFile(local.toStdString(), "up/config-case.bin"));
        runToEnd(worker, spies);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(2).toString(), message);
        QCOMPARE(codeOf<OssFileUploader>(spies.failed.first().at(3)), OssFileUploader::ConfigFileError);
        QTRY_COMPARE(queuedCode, 5);
        QCOMPARE(queuedOn, thread());
        QVERIFY(sandbox.requests().isEmpty());
    }

    void stopDuringSlowTransfer_data()
    {
        QTest::addColumn<bool>("multipart");
        QTest::addColumn<bool>("byDestructor");
        QTest::newRow("whole, stop operation") << false << false;
        QTest::newRow("whole, destructor") << false << true;
        QTest::newRow("parts, stop operation") << true << false;
        QTest::newRow("parts, destructor") << true << true;
    }
    void stopDuringSlowTransfer()
    {
        QFETCH(bool, multipart);
        QFETCH(bool, byDestructor);
        const std::string key =
            std::string("up/slow-") + (multipart ? "parts" : "whole") + (byDestructor ? "-d" : "-s");
        const QString local = localFile("slow.bin", randomBytes(4 * 102400));
        const QString operation = multipart ? "UploadPart" : "PutObject";
        // The emulator reads the body, then holds its answer back.
        sandbox.delayAll(operation, 4000);
        auto worker = std::make_unique<OssFileUploader>();
        WorkerSpies spies = spiesOf(*worker);
        worker->setConfigFileName(sandbox.configPath().toStdString());
        worker->SetMultipart(multipart);
        QVERIFY(worker->startUploadFile(local.toStdString(), key));
        QTRY_VERIFY_WITH_TIMEOUT(!spies.progress.isEmpty(), 10000);
        QTest::qWait(200);

        QElapsedTimer clock;
        clock.start();
        if (byDestructor) {
            worker.reset();
        } else {
            QVERIFY(worker->stopUploadFile());
            QVERIFY(!worker->isRunning());
        }
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        const int progressSeen = spies.progress.count();
        QTest::qWait(300);
        QCOMPARE(spies.ends(), 0);
        QCOMPARE(spies.progress.count(), progressSeen);
        // Nothing after the stop: no further part, no completion.
        QVERIFY(sandbox.requests(operation, key).size() <= 1);
        QVERIFY(sandbox.requests("CompleteMultipartUpload", key).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestOssFileUploader)
#include "tst_OssFileUploader.moc"
