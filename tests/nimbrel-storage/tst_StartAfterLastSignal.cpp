#include "OssFileDownloader.h"
#include "OssFileEncryption.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"
#include "StorageFixtures.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace Nimbrel;
using StorageFixtures::randomBytes;

namespace {

const int rounds = 300;

// A host that starts the worker's next job from the queued slot of the last
// signal of the one before, as long as rounds are left.
struct Host
{
    std::unique_ptr<QThread> worker;
    std::function<bool()> start;
    int ends = 0;
    int refused = 0;
    int failed = 0;

    void jobEnded(bool success)
    {
        ++ends;
        if (!success)
            ++failed;
        if (ends < rounds && !start())
            ++refused;
    }
};

} // namespace

class TestStartAfterLastSignal : public QObject
{
    Q_OBJECT

private:
    StorageSandbox sandbox;
    QString plainFile;

    void setUp(const QString& name, Host& host)
    {
        const std::string config = sandbox.configPath().toStdString();
        const std::string out = sandbox.filePath(name + ".out").toStdString();
        if (name == "download") {
            auto* worker = new OssFileDownloader;
            worker->setConfigFileName(config);
            connect(worker, &OssFileDownloader::sigFileDownloadFinished, this, [&host] { host.jobEnded(true); });
            connect(worker, &OssFileDownloader::sigFileDownloadFailed, this, [&host] { host.jobEnded(false); });
            host.start = [worker, out] { return worker->startDownloadFile("again/small.bin", out); };
            host.worker.reset(worker);
        } else if (name == "upload") {
            auto* worker = new OssFileUploader;
            worker->setConfigFileName(config);
            connect(worker, &OssFileUploader::sigFileUploadFinished, this, [&host] { host.jobEnded(true); });
            connect(worker, &OssFileUploader::sigFileUploadFailed, this, [&host] { host.jobEnded(false); });
            host.start = [worker, local = plainFile.toStdString()] {
                return worker->startUploadFile(local, "again/uploaded.bin");
            };
            host.worker.reset(worker);
        } else if (name == "directory") {
            auto* worker = new OssFileWork;
            worker->setConfigFileName(config);
            connect(worker, &OssFileWork::sigFileWorkFinished, this, [&host] { host.jobEnded(true); });
            connect(worker, &OssFileWork::sigFileWorkFailed, this, [&host] { host.jobEnded(false); });
            host.start = [worker] { return worker->startListFileInfo("again/small.bin"); };
            host.worker.reset(worker);
        } else if (name == "failed removal") {
            // Without the closing finished signal the name's failed signal is the last.
            auto* worker = new OssFileWork;
            worker->setConfigFileName(config);
            connect(worker, &OssFileWork::sigFileWorkFinished, this, [&host] { host.jobEnded(true); });
            connect(worker, &OssFileWork::sigFileWorkFailed, this, [&host] { host.jobEnded(false); });
            host.start = [this, worker] {
                sandbox.failNext("DeleteObjects", 503, "ServiceUnavailable", "Please reduce your request rate.");
                return worker->startRemoveFiles({"again/kept.bin"});
            };
            host.worker.reset(worker);
        } else if (name == "encryption") {
            auto* worker = new OssFileEncryption;
            connect(worker, &OssFileEncryption::sigEncryptionFinished, this, [&host] { host.jobEnded(true); });
            connect(worker, &OssFileEncryption::sigEncryptionFailed, this, [&host] { host.jobEnded(false); });
            host.start = [worker, source = plainFile.toStdString(), out] {
                return worker->startEncryptionFile(source, out);
            };
            host.worker.reset(worker);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.start());
        const QByteArray plain = randomBytes(2000);
        plainFile = sandbox.filePath("small.bin");
        QVERIFY(TestConfig::writeFile(plainFile, plain));
        QVERIFY(sandbox.putObject("again/small.bin", plain));
    }

    void startFromTheQueuedSlotIsNeverRefused_data()
    {
        QTest::addColumn<QString>("worker");
        QTest::addColumn<bool>("failing");
        for (const char* worker : {"download", "upload", "directory", "encryption"})
            QTest::newRow(worker) << QString(worker) << false;
        QTest::newRow("failed removal") << QStringLiteral("failed removal") << true;
    }
    void startFromTheQueuedSlotIsNeverRefused()
    {
        QFETCH(QString, worker);
        QFETCH(bool, failing);
        Host host;
        setUp(worker, host);
        QVERIFY(host.start());
        // A refused start ends the chain, so the rounds stop short.
        QTRY_VERIFY_WITH_TIMEOUT(host.ends == rounds || host.refused > 0, 120000);
        QVERIFY(host.worker->wait(5000));
        QCOMPARE(host.refused, 0);
        QCOMPARE(host.failed, failing ? rounds : 0);
        QCOMPARE(host.ends, rounds);
    }

    void startFromADirectSlotIsRefused()
    {
        // The job's own thread cannot wait for the job to end.
        OssFileDownloader worker;
        worker.setConfigFileName(sandbox.configPath().toStdString());
        const std::string out = sandbox.filePath("direct.out").toStdString();
        bool started = true;
        connect(
            &worker, &OssFileDownloader::sigFileDownloadFinished, &worker,
            [&] { started = worker.startDownloadFile("again/small.bin", out); }, Qt::DirectConnection);
        QVERIFY(worker.startDownloadFile("again/small.bin", out));
        QVERIFY(worker.wait(10000));
        QVERIFY(!started);
    }
};

QTEST_GUILESS_MAIN(TestStartAfterLastSignal)
#include "tst_StartAfterLastSignal.moc"
