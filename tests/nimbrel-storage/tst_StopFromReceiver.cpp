#include "OssFileDecryption.h"
#include "OssFileDownloader.h"
#include "OssFileEncryption.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"
#include "OssServerStatus.h"
#include "StorageFixtures.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

using namespace Nimbrel;
using StorageFixtures::randomBytes;

namespace {

// Receives every signal of a job on a thread of its own, connected with
// Qt::BlockingQueuedConnection, and stops the job from that thread: from the
// slot of the first signal, or from a timer while a signal waits for the
// thread. Each slot takes slotMilliseconds.
class Receiver : public QObject
{
public:
    Receiver(bool fromSlot, int slotMilliseconds = 0)
        : fromSlot(fromSlot)
        , slotMilliseconds(slotMilliseconds)
    {
    }

    void setStop(std::function<void()> stopJob) { stop = std::move(stopJob); }

    // On the job's thread, before the signal goes to the receiver's thread.
    void entered()
    {
        insideSignal = true;
        if (fromSlot)
            return;
        // The signal waits here until the timer has begun the stop, so that it
        // reaches the receiver's thread while that thread is inside the stop.
        const QDeadlineTimer deadline(10000);
        while (!stopCalled && !deadline.hasExpired())
            QThread::msleep(1);
    }

    // On the receiver's thread.
    void delivered()
    {
        if (stopReturned)
            ++deliveredAfterStop;
        ++deliveredCount;
        QThread::msleep(static_cast<unsigned long>(slotMilliseconds));
        if (fromSlot && !stopCalled)
            runStop();
    }

    void startTimer()
    {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            if (insideSignal && !stopCalled)
                runStop();
        });
        timer->start(1);
    }

    std::atomic<bool> stopReturned{false};
    std::atomic<qint64> stopMilliseconds{-1};
    std::atomic<int> deliveredCount{0};
    std::atomic<int> deliveredAfterStop{0};

private:
    void runStop()
    {
        stopCalled = true;
        QElapsedTimer clock;
        clock.start();
        stop();
        stopMilliseconds = clock.elapsed();
        stopReturned = true;
    }

    const bool fromSlot;
    const int slotMilliseconds;
    std::function<void()> stop;
    QTimer* timer = nullptr;
    std::atomic<bool> insideSignal{false};
    std::atomic<bool> stopCalled{false};
};

template <typename Worker, typename Signal>
void watch(Worker& worker, Signal signal, Receiver& receiver)
{
    QObject::connect(
        &worker, signal, &worker, [&receiver] { receiver.entered(); }, Qt::DirectConnection);
    QObject::connect(
        &worker, signal, &receiver, [&receiver] { receiver.delivered(); }, Qt::BlockingQueuedConnection);
}

// One worker, set up for a job that emits signals.
struct Job
{
    std::unique_ptr<QThread> worker;
    std::function<bool()> start;
    std::function<void()> stop;
};

// A ping that never answers, first on PATH.
const char silentPing[] = "#!/bin/sh\nexit 1\n";

} // namespace

class TestStopFromReceiver : public QObject
{
    Q_OBJECT

private:
    // A stop that never returns leaves two threads waiting for each other;
    // nothing could be cleaned up after it.
    static void awaitStopReturned(const Receiver& receiver, const QString& worker)
    {
        const QDeadlineTimer deadline(10000);
        while (!receiver.stopReturned && !deadline.hasExpired())
            QTest::qWait(10);
        if (!receiver.stopReturned)
            qFatal("the stop of the %s worker did not return", qPrintable(worker));
    }

    StorageSandbox sandbox;
    QString plainFile;
    QString blockFile;
    QString monitorConfig;
    // What the next job after a stop works on, and what it must produce.
    QByteArray smallPlain;
    QString smallPlainFile;
    QString smallBlockFile;
    QByteArray smallBlock;

    Job makeJob(const QString& name, Receiver& receiver)
    {
        Job job;
        const std::string config = sandbox.configPath().toStdString();
        const std::string out = sandbox.filePath(name + ".out").toStdString();
        if (name == "encryption") {
            auto* worker = new OssFileEncryption;
            watch(*worker, &OssFileEncryption::sigEncryptionProgress, receiver);
            watch(*worker, &OssFileEncryption::sigEncryptionFinished, receiver);
            watch(*worker, &OssFileEncryption::sigEncryptionFailed, receiver);
            job.start = [worker, source = plainFile.toStdString(), out] {
                return worker->startEncryptionFile(source, out);
            };
            job.stop = [worker] { worker->stopEncryptionFile(); };
            job.worker.reset(worker);
        } else if (name == "decryption") {
            auto* worker = new OssFileDecryption;
            watch(*worker, &OssFileDecryption::sigDecryptionProgress, receiver);
            watch(*worker, &OssFileDecryption::sigDecryptionFinished, receiver);
            watch(*worker, &OssFileDecryption::sigDecryptionFailed, receiver);
            job.start = [worker, source = blockFile.toStdString(), out] {
                return worker->startDecryptionFile(source, out);
            };
            job.stop = [worker] { worker->stopDecryptionFile(); };
            job.worker.reset(worker);
        } else if (name == "download") {
            auto* worker = new OssFileDownloader;
            watch(*worker, &OssFileDownloader::sigFileDownloadProgress, receiver);
            watch(*worker, &OssFileDownloader::sigFileDownloadFinished, receiver);
            watch(*worker, &OssFileDownloader::sigFileDownloadFailed, receiver);
            worker->setConfigFileName(config);
            job.start = [worker, out] { return worker->startDownloadFile("stop/big.bin", out); };
            job.stop = [worker] { worker->stopDownloadFile(); };
            job.worker.reset(worker);
        } else if (name == "upload") {
            auto* worker = new OssFileUploader;
            watch(*worker, &OssFileUploader::sigFileUploadProgress, receiver);
            watch(*worker, &OssFileUploader::sigFileUploadFinished, receiver);
            watch(*worker, &OssFileUploader::sigFileUploadFailed, receiver);
            worker->setConfigFileName(config);
            job.start = [worker, local = plainFile.toStdString()] {
                return worker->startUploadFile(local, "stop/uploaded.bin");
            };
            job.stop = [worker] { worker->stopUploadFile(); };
            job.worker.reset(worker);
        } else if (name == "directory") {
            auto* worker = new OssFileWork;
            watch(*worker, &OssFileWork::sigFileWorkProgress, receiver);
            watch(*worker, &OssFileWork::sigFileWorkFinished, receiver);
            watch(*worker, &OssFileWork::sigFileWorkFailed, receiver);
            worker->setConfigFileName(config);
            std::vector<std::string> names;
            for (int i = 0; i < 50; ++i)
                names.push_back("stop/name-" + std::to_string(i));
            job.start = [worker, names] { return worker->startRemoveFiles(names); };
            job.stop = [worker] { worker->stopFileWork(); };
            job.worker.reset(worker);
        } else if (name == "monitor") {
            auto* worker = new OssServerStatus;
            watch(*worker, &OssServerStatus::sigNetworkStatus, receiver);
            worker->setConfigFileName(monitorConfig.toStdString(), 100);
            job.start = [worker] { return worker->startDetect(); };
            job.stop = [worker] { worker->stopDetect(); };
            job.worker.reset(worker);
        }
        return job;
    }

    static QByteArray contentOf(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A new job on the stopped job's file, or on the stopped worker, gets
    // exactly what it asked for; nothing of the stopped job comes later.
    void checkNextJob(const QString& name, Job& stopped)
    {
        const QString out = sandbox.filePath(name + ".out");
        QByteArray expected;
        if (name == "encryption") {
            OssFileEncryption worker;
            QVERIFY(worker.startEncryptionFile(smallPlainFile.toStdString(), out.toStdString()));
            QVERIFY(worker.wait(10000));
            QVERIFY(worker.isSuccessful());
            expected = smallBlock;
        } else if (name == "decryption") {
            OssFileDecryption worker;
            QVERIFY(worker.startDecryptionFile(smallBlockFile.toStdString(), out.toStdString()));
            QVERIFY(worker.wait(10000));
            QVERIFY(worker.isSuccessful());
            expected = smallPlain;
        } else if (name == "download") {
            OssFileDownloader worker;
            QSignalSpy finished(&worker, &OssFileDownloader::sigFileDownloadFinished);
            worker.setConfigFileName(sandbox.configPath().toStdString());
            QVERIFY(worker.startDownloadFile("stop/small.bin", out.toStdString()));
            QVERIFY(worker.wait(10000));
            QCOMPARE(finished.count(), 1);
            expected = smallPlain;
        } else if (name == "upload") {
            OssFileUploader worker;
            QSignalSpy finished(&worker, &OssFileUploader::sigFileUploadFinished);
            worker.setConfigFileName(sandbox.configPath().toStdString());
            QVERIFY(worker.startUploadFile(smallPlainFile.toStdString(), "stop/uploaded.bin"));
            QVERIFY(worker.wait(10000));
            QCOMPARE(finished.count(), 1);
        } else {
            // The stopped worker takes its next job at once.
            QVERIFY(stopped.start());
            return;
        }
        QTest::qWait(300);
        if (name == "upload")
            QCOMPARE(sandbox.object("stop/uploaded.bin").value_or(QByteArray()), smallPlain);
        else
            QCOMPARE(contentOf(out), expected);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.start());
        const QByteArray plain = randomBytes(4 * 1024 * 1024);
        plainFile = sandbox.filePath("plain.bin");
        QVERIFY(TestConfig::writeFile(plainFile, plain));
        QVERIFY(sandbox.putObject("stop/big.bin", plain));

        blockFile = sandbox.filePath("plain.enc");
        OssFileEncryption encryption;
        QVERIFY(encryption.startEncryptionFile(plainFile.toStdString(), blockFile.toStdString()));
        QVERIFY(encryption.wait(60000));
        QVERIFY(encryption.isSuccessful());

        smallPlain = randomBytes(5000, 1);
        smallPlainFile = sandbox.filePath("small.bin");
        QVERIFY(TestConfig::writeFile(smallPlainFile, smallPlain));
        QVERIFY(sandbox.putObject("stop/small.bin", smallPlain));
        smallBlockFile = sandbox.filePath("small.enc");
        QVERIFY(encryption.startEncryptionFile(smallPlainFile.toStdString(), smallBlockFile.toStdString()));
        QVERIFY(encryption.wait(60000));
        QVERIFY(encryption.isSuccessful());
        smallBlock = contentOf(smallBlockFile);
        QVERIFY(!smallBlock.isEmpty());

        const QString binDir = sandbox.filePath("bin");
        QVERIFY(QDir().mkpath(binDir));
        QVERIFY(TestConfig::writeFile(binDir + "/ping", silentPing));
        QFile(binDir + "/ping").setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("PATH", (binDir + ":" + qEnvironmentVariable("PATH")).toLocal8Bit());
        // Never a real ping from this test.
        QCOMPARE(QStandardPaths::findExecutable("ping"), binDir + "/ping");
        monitorConfig = TestConfig::writeConfig(sandbox.filePath("monitor.cfg"), "http://oss.example.invalid/",
                                                "bucket", "id", "secret");
        QVERIFY(!monitorConfig.isEmpty());
    }

    void stopAfterASlowSlotEndsTheJob_data()
    {
        QTest::addColumn<QString>("worker");
        for (const char* worker : {"encryption", "decryption", "download", "upload", "directory", "monitor"})
            QTest::newRow(worker) << QString(worker);
    }
    void stopAfterASlowSlotEndsTheJob()
    {
        QFETCH(QString, worker);
        QThread receiverThread;
        receiverThread.start();
        // Longer than the patience a stop has for a signal that does not come back.
        auto* receiver = new Receiver(false, 300);
        Job job = makeJob(worker, *receiver);
        std::atomic<bool> endedWhenStopReturned{false};
        receiver->setStop([&] {
            job.stop();
            endedWhenStopReturned = job.worker->isFinished();
        });
        receiver->moveToThread(&receiverThread);
        QMetaObject::invokeMethod(
            receiver, [receiver] { receiver->startTimer(); }, Qt::BlockingQueuedConnection);

        QVERIFY(job.start());
        awaitStopReturned(*receiver, worker);
        const auto cleanup = qScopeGuard([&] {
            job.worker.reset();
            QMetaObject::invokeMethod(
                receiver, [receiver] { delete receiver; }, Qt::BlockingQueuedConnection);
            receiverThread.quit();
            receiverThread.wait();
        });
        // As a host would, at once after the stop.
        checkNextJob(worker, job);
        QVERIFY(endedWhenStopReturned);
    }

    void stopReturnsAndNothingFollows_data()
    {
        QTest::addColumn<QString>("worker");
        QTest::addColumn<bool>("fromSlot");
        for (const char* worker : {"encryption", "decryption", "download", "upload", "directory", "monitor"}) {
            QTest::newRow(QByteArray(worker) + ", from the slot") << QString(worker) << true;
            QTest::newRow(QByteArray(worker) + ", from a timer") << QString(worker) << false;
        }
    }
    void stopReturnsAndNothingFollows()
    {
        QFETCH(QString, worker);
        QFETCH(bool, fromSlot);
        QThread receiverThread;
        receiverThread.start();
        auto* receiver = new Receiver(fromSlot);
        Job job = makeJob(worker, *receiver);
        receiver->setStop(job.stop);
        receiver->moveToThread(&receiverThread);
        if (!fromSlot)
            QMetaObject::invokeMethod(
                receiver, [receiver] { receiver->startTimer(); }, Qt::BlockingQueuedConnection);

        QVERIFY(job.start());
        awaitStopReturned(*receiver, worker);

        QVERIFY2(receiver->stopMilliseconds < 3000, qPrintable(QString::number(receiver->stopMilliseconds)));
        // The job ends at its next step.
        QVERIFY(job.worker->wait(5000));
        QTest::qWait(200);
        QVERIFY(receiver->deliveredCount >= 1);
        QCOMPARE(int(receiver->deliveredAfterStop), 0);

        job.worker.reset();
        QMetaObject::invokeMethod(
            receiver, [receiver] { delete receiver; }, Qt::BlockingQueuedConnection);
        receiverThread.quit();
        QVERIFY(receiverThread.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestStopFromReceiver)
#include "tst_StopFromReceiver.moc"
