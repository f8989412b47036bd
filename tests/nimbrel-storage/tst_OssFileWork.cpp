#include "OssFileWork.h"
#include "StorageFixtures.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Nimbrel::OssFileWork;
using StorageFixtures::codeOf;
using StorageFixtures::spiesOf;
using StorageFixtures::WorkerSpies;

static QStringList namesOf(const std::vector<OssFileWork::OssFileInfo>& infos)
{
    QStringList names;
    for (const OssFileWork::OssFileInfo& info : infos)
        names << QString::fromStdString(info.fileName);
    return names;
}

class TestOssFileWork : public QObject
{
    Q_OBJECT

private:
    StorageSandbox sandbox;

    void runToEnd(OssFileWork& worker)
    {
        QVERIFY(worker.wait(30000));
        QTest::qWait(20);
    }
    void seed(const QStringList& keys)
    {
        for (const QString& key : keys)
            QVERIFY(sandbox.putObject(key.toStdString(), key.toUtf8()));
    }

private slots:
    void initTestCase() { QVERIFY(sandbox.start()); }
    void init()
    {
        sandbox.clearFaults();
        sandbox.setPageLimit(0);
        sandbox.clearRequests();
    }

    void listsOnlyDirectChildren()
    {
        seed({"photos/a.jpg", "photos/b.jpg", "photos/2024/c.jpg", "photosx/d.jpg", "other/e.jpg"});
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("photos"));
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(spies.finished.count(), 1);
        const QList<QVariant> done = spies.finished.first();
        QCOMPARE(done.at(0).toInt(), int(OssFileWork::ListFiles));
        QCOMPARE(done.at(1).toString(), QStringLiteral("photos"));
        QCOMPARE(done.at(2).toLongLong(), 0);
        QCOMPARE(done.at(3).toLongLong(), 0);

        std::vector<OssFileWork::OssFileInfo> infos;
        QVERIFY(worker.getAllFilesInfo(infos));
        QCOMPARE(namesOf(infos), QStringList({"photos/a.jpg", "photos/b.jpg"}));
        QCOMPARE(infos.front().fileSize, qint64(QByteArray("photos/a.jpg").size()));
        QVERIFY(!infos.front().lastModified.empty());
        const RecordedRequest listing = sandbox.requests("ListObjects").first();
        QCOMPARE(listing.query.queryItemValue("prefix", QUrl::FullyDecoded), QStringLiteral("photos/"));
        QCOMPARE(listing.query.queryItemValue("delimiter", QUrl::FullyDecoded), QStringLiteral("/"));
    }

    void threePages()
    {
        QStringList keys;
        for (int i = 0; i < 7; ++i)
            keys << QString("paged/file%1.txt").arg(i);
        seed(keys);
        sandbox.setPageLimit(3);
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("paged"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(sandbox.requests("ListObjects").size(), 3);
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(namesOf(infos), keys);
    }

    void failureOnThirdPageKeepsTwoPages()
    {
        QStringList keys;
        for (int i = 0; i < 8; ++i)
            keys << QString("broken/file%1.txt").arg(i);
        seed(keys);
        sandbox.setPageLimit(3);
        sandbox.failNext("ListObjects", 500, "InternalError", "We encountered an internal error.", 2);
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("broken"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 0);
        QCOMPARE(spies.failed.count(), 1);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(0).toInt(), int(OssFileWork::ListFiles));
        QCOMPARE(failure.at(1).toString(), QStringLiteral("broken"));
        QCOMPARE(failure.at(2).toLongLong(), -1);
        QCOMPARE(failure.at(3).toLongLong(), -1);
        QCOMPARE(failure.at(4).toString(), QStringLiteral("list object failed..."));
        QCOMPARE(codeOf<OssFileWork>(failure.at(5)), OssFileWork::OssServiceError);
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(namesOf(infos), keys.mid(0, 6));
    }

    void rootEndingInSlashGetsASecondOne()
    {
        seed({"slash/a.txt"});
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("slash/"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(sandbox.requests("ListObjects").first().query.queryItemValue("prefix", QUrl::FullyDecoded),
                 QStringLiteral("slash//"));
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QVERIFY(infos.empty());
    }

    void emptyListingAndFreshWorker()
    {
        OssFileWork worker;
        std::vector<OssFileWork::OssFileInfo> infos(3);
        QVERIFY(worker.getAllFilesInfo(infos));
        QVERIFY(infos.empty());
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("nothing-here"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
        worker.getAllFilesInfo(infos);
        QVERIFY(infos.empty());
    }

    void removesEveryName()
    {
        seed({"trash/a.txt", "trash/b.txt", "trash/c.txt", "trash/keep.txt"});
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("trash"));
        runToEnd(worker);
        spies.finished.clear();

        QVERIFY(worker.startRemoveFiles({"trash/a.txt", "trash/b.txt", "trash/c.txt"}));
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(spies.finished.count(), 4);
        const QStringList names = {"trash/a.txt", "trash/b.txt", "trash/c.txt"};
        for (int i = 0; i < 3; ++i) {
            const QList<QVariant> done = spies.finished.at(i);
            QCOMPARE(done.at(0).toInt(), int(OssFileWork::RemoveFiles));
            QCOMPARE(done.at(1).toString(), names.at(i));
            QCOMPARE(done.at(2).toLongLong(), qint64(i));
            QCOMPARE(done.at(3).toLongLong(), 3);
        }
        // The closing signal names the directory of the last listing.
        QCOMPARE(spies.finished.last().at(1).toString(), QStringLiteral("trash"));
        QCOMPARE(spies.finished.last().at(2).toLongLong(), 0);
        QCOMPARE(spies.finished.last().at(3).toLongLong(), 0);
        QCOMPARE(sandbox.requests("DeleteObjects").size(), 3);
        for (const QString& name : names)
            QVERIFY(!sandbox.object(name.toStdString()));
        QVERIFY(sandbox.object("trash/keep.txt"));
        // A remove job leaves the last listing as it was.
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(infos.size(), size_t(4));
    }

    void refusedDeletionIsReportedPerName()
    {
        seed({"bin/one.txt", "bin/two.txt"});
        sandbox.failNext("DeleteObjects", 403, "AccessDenied", "Access denied.", 0);
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startRemoveFiles({"bin/one.txt", "bin/two.txt"}));
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 1);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(0).toInt(), int(OssFileWork::RemoveFiles));
        QCOMPARE(failure.at(1).toString(), QStringLiteral("bin/one.txt"));
        QCOMPARE(failure.at(2).toLongLong(), 0);
        QCOMPARE(failure.at(3).toLongLong(), 2);
        QCOMPARE(failure.at(4).toString(), QStringLiteral("delete object failed..."));
        QCOMPARE(codeOf<OssFileWork>(failure.at(5)), OssFileWork::OssServiceError);
        // The next name is still deleted; no closing signal after a failure.
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(spies.finished.first().at(1).toString(), QStringLiteral("bin/two.txt"));
        QCOMPARE(spies.finished.first().at(2).toLongLong(), 1);
        QVERIFY(sandbox.object("bin/one.txt"));
        QVERIFY(!sandbox.object("bin/two.txt"));
    }

    void fileInfoOfOneObject()
    {
        seed({"info/report.pdf", "info/report.pdf.bak"});
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFileInfo("info/report.pdf"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
        const QList<QVariant> done = spies.finished.first();
        QCOMPARE(done.at(0).toInt(), int(OssFileWork::ListFileInfo));
        QCOMPARE(done.at(1).toString(), QStringLiteral("info/report.pdf"));
        QCOMPARE(done.at(2).toLongLong(), 0);
        QCOMPARE(done.at(3).toLongLong(), 1);
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(namesOf(infos), QStringList({"info/report.pdf"}));
        QCOMPARE(infos.front().fileSize, qint64(QByteArray("info/report.pdf").size()));

        // Only a longer key with that prefix exists: not found.
        QVERIFY(worker.startListFileInfo("info/report"));
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(spies.failed.first().at(0).toInt(), int(OssFileWork::ListFileInfo));
        QCOMPARE(spies.failed.first().at(1).toString(), QStringLiteral("info/report"));
        QCOMPARE(codeOf<OssFileWork>(spies.failed.first().at(5)), OssFileWork::OssServiceError);
        worker.getAllFilesInfo(infos);
        QVERIFY(infos.empty());
    }

    void namesAreUtf8()
    {
        const std::string key = "utf/\xc3\xa4rger.txt";
        QVERIFY(sandbox.putObject(key, "x"));
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startRemoveFiles({key}));
        runToEnd(worker);
        QCOMPARE(spies.finished.first().at(1).toString(), QString::fromUtf8(key.c_str()));
        QVERIFY(worker.startListFiles("utf/\xc3\xa4"));
        runToEnd(worker);
        QCOMPARE(spies.finished.last().at(1).toString(), QString::fromUtf8("utf/\xc3\xa4"));
    }

    void invalidJobType()
    {
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        worker.start();
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 1);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(0).toInt(), -1);
        QCOMPARE(failure.at(1).toString(), QString());
        QCOMPARE(failure.at(2).toLongLong(), -1);
        QCOMPARE(failure.at(3).toLongLong(), -1);
        QCOMPARE(failure.at(4).toString(), QStringLiteral("oss work type is invalid..."));
        QCOMPARE(codeOf<OssFileWork>(failure.at(5)), OssFileWork::InvalidParameter);
        QVERIFY(sandbox.requests().isEmpty());
    }

    void startRefusals()
    {
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(!worker.startListFiles(""));
        QVERIFY(!worker.startListFileInfo(""));
        QVERIFY(!worker.startRemoveFiles({}));
        sandbox.delayAll("ListObjects", 500);
        QVERIFY(worker.startListFiles("busy"));
        QVERIFY(!worker.startListFiles("other"));
        QVERIFY(!worker.startRemoveFiles({"x"}));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(spies.finished.first().at(1).toString(), QStringLiteral("busy"));
        QCOMPARE(spies.failed.count(), 0);
    }

    void configurationFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("never set") << "none"
                                   << "config file name is empty...";
        QTest::newRow("missing file") << "missing"
                                      << "config file AesDecode fail...";
        QTest::newRow("not decipherable") << "undecodable"
                                          << "config file AesDecode fail...";
        QTest::newRow("no account lines") << "unparsable"
                                          << "config content is error...";
        QTest::newRow("named pipe") << "fifo"
                                    << "config file AesDecode fail...";
    }
    void configurationFailures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString path = sandbox.filePath(kind + ".cfg");
        QVERIFY(TestConfig::writeFaulty(path, kind));
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);

        // A receiver on the caller's thread gets the code through a queued connection.
        int queuedCode = 0;
        QThread* queuedOn = nullptr;
        connect(&worker, &OssFileWork::sigFileWorkFailed, this,
                [&](int, const QString&, qint64, qint64, const QString&, OssFileWork::OssErrorCode status) {
                    queuedCode = status;
                    queuedOn = QThread::currentThread();
                });
        if (kind != "none")
            worker.setConfigFileName(path.toStdString());
        QVERIFY(worker.startRemoveFiles({"a", "b"}));
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 1);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(0).toInt(), int(OssFileWork::RemoveFiles));
        QCOMPARE(failure.at(1).toString(), kind == "none" ? QString() : path);
        QCOMPARE(failure.at(2).toLongLong(), -1);
        QCOMPARE(failure.at(3).toLongLong(), -1);
        QCOMPARE(failure.at(4).toString(), message);
        QCOMPARE(codeOf<OssFileWork>(failure.at(5)), OssFileWork::ConfigFileError);
        QTRY_COMPARE(queuedCode, 5);
        QCOMPARE(queuedOn, thread());
        QVERIFY(sandbox.requests().isEmpty());
    }

    void stopDuringSlowListing_data()
    {
        QTest::addColumn<bool>("byDestructor");
        QTest::addColumn<int>("delay");
        QTest::newRow("stop operation") << false << 300;
        QTest::newRow("destructor") << true << 300;
        // Before the job's first step: the request must not be lost to it.
        QTest::newRow("stop operation right after the start") << false << 0;
    }
    void stopDuringSlowListing()
    {
        QFETCH(bool, byDestructor);
        QFETCH(int, delay);
        seed({"slow/a.txt", "slow/b.txt", "slow/c.txt"});
        sandbox.setPageLimit(1);
        sandbox.delayAll("ListObjects", 4000);
        auto worker = std::make_unique<OssFileWork>();
        WorkerSpies spies = spiesOf(*worker);
        worker->setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker->startListFiles("slow"));
        if (delay > 0)
            QTest::qWait(delay);
        QVERIFY(worker->isRunning());
        QElapsedTimer clock;
        clock.start();
        if (byDestructor) {
            worker.reset();
        } else {
            QVERIFY(worker->stopFileWork());
            QVERIFY(worker->wait(3000));
        }
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(200);
        QCOMPARE(spies.finished.count() + spies.failed.count(), 0);
    }

    // A stop request belongs to the job it was made for: a job started
    // directly on the thread runs in full.
    void staleStopRequestDoesNotEndTheNextJob()
    {
        seed({"stale/a.txt"});
        sandbox.delayAll("ListObjects", 500);
        OssFileWork worker;
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("stale"));
        QTest::qWait(100);
        QVERIFY(worker.stopFileWork());
        runToEnd(worker);
        QCOMPARE(spies.ends(), 0);
        sandbox.clearFaults();

        worker.start();
        runToEnd(worker);
        QCOMPARE(spies.failed.count(), 0);
        QCOMPARE(spies.finished.count(), 1);
        QCOMPARE(spies.finished.first().at(1).toString(), QStringLiteral("stale"));
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(namesOf(infos), QStringList{"stale/a.txt"});
    }

    void stopIdle()
    {
        OssFileWork worker;
        QVERIFY(worker.stopFileWork());
        // The request was not kept: the next job runs.
        WorkerSpies spies = spiesOf(worker);
        worker.setConfigFileName(sandbox.configPath().toStdString());
        QVERIFY(worker.startListFiles("idle"));
        runToEnd(worker);
        QCOMPARE(spies.finished.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestOssFileWork)
#include "tst_OssFileWork.moc"
