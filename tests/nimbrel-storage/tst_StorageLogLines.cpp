#include "OssFileDownloader.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"
#include "OssServerStatus.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "StorageSandbox.h"
#include "TestConfig.h"

#include <QMutex>
#include <QTest>

// The log lines of the storage workers are read by people and tools; a few
// of each kind, captured through a functor destination of the library's logger.
static QMutex capturedMutex;
static QStringList capturedLines;

static void capture(const QString& message, QuilmLogging::Level)
{
    QMutexLocker locker(&capturedMutex);
    capturedLines << message;
}

static bool logged(const QString& levelText, const QString& message)
{
    QMutexLocker locker(&capturedMutex);
    for (const QString& line : std::as_const(capturedLines)) {
        if (line.startsWith(levelText) && line.contains(message))
            return true;
    }
    return false;
}

class TestStorageLogLines : public QObject
{
    Q_OBJECT

private:
    StorageSandbox sandbox;

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.start());
        QuilmLogging::Logger::instance().addDestination(
            QuilmLogging::DestinationFactory::MakeFunctorDestination(&capture));
    }
    void init()
    {
        sandbox.clearFaults();
        QMutexLocker locker(&capturedMutex);
        capturedLines.clear();
    }

    void lines_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("message");
        const QString missing = sandbox.filePath("no-such-file.bin");
        const QString local = sandbox.filePath("local.bin");
        QTest::newRow("download start") << "download"
                                        << "INFO "
                                        << "[ OssFileDownloader ] start to download to local file \"" + local + "\" ";
        QTest::newRow("download without configuration") << "download-unconfigured"
                                                        << "ERROR"
                                                        << "[ OssFileDownloader ] Run configFileName is empty...... ";
        QTest::newRow("download listing refused")
            << "download-list-refused"
            << "ERROR"
            << "ListObjects fail ,code: InternalError ,message: Listing is down. ,requestId: ";
        // The failed fetch is the one storage failure written at Info.
        QTest::newRow("download fetch failure at info") << "download-absent"
                                                        << "INFO "
                                                        << "[ OssFileDownloader ] Run GetObject fail...... ";
        QTest::newRow("download fetch success") << "download"
                                                << "INFO "
                                                << "[ OssFileDownloader ] Run GetObject success...... ";
        QTest::newRow("download empty name") << "download-empty"
                                             << "ERROR"
                                             << "[ OssFileDownloader ] localFileName or remoteFileName is empty ";
        QTest::newRow("upload open failure") << "upload-missing"
                                             << "ERROR"
                                             << "[ OssFileUploader ] open  " + missing + "  failed, and error no =  2 ";
        QTest::newRow("upload folder") << "upload-folder"
                                       << "ERROR"
                                       << "[ OssFileUploader ] open  " + sandbox.filePath(".")
                                              + "  failed, and error no =  21 ";
        QTest::newRow("upload whole success") << "upload-whole"
                                              << "INFO "
                                              << "[ OssFileUploader ] UploadWholeFile PutObject success...... ";
        QTest::newRow("upload whole refused") << "upload-whole-refused"
                                              << "ERROR"
                                              << "[ OssFileUploader ] UploadWholeFile PutObject fail...... ";
        QTest::newRow("upload in parts undecodable") << "upload-parts-undecodable"
                                                     << "ERROR"
                                                     << "[ OssFileUploader ] UploadMultiPartFile AesDecode fail...... ";
        QTest::newRow("upload mode") << "upload-parts-undecodable"
                                     << "ERROR"
                                     << "[ OssFileUploader ] SetMultipart multipart =  true ";
        QTest::newRow("listing refused") << "list-refused"
                                         << "ERROR"
                                         << "[ OssFileWork ] run() ListObjects fail: ,code: InternalError ,message: "
                                            "Listing is down. ,requestId: ";
        QTest::newRow("listing success at error level") << "list"
                                                        << "ERROR"
                                                        << "[ OssFileWork ] run() ListObjects success. ";
        QTest::newRow("listing start at error level") << "list"
                                                      << "ERROR"
                                                      << "[ OssFileWork ] startListFiles rootDirName =  logged ";
        QTest::newRow("directory stop at error level") << "list"
                                                       << "ERROR"
                                                       << "[ OssFileWork ] stopFileWork called ";
        QTest::newRow("removal start at error level")
            << "remove"
            << "ERROR"
            << "[ OssFileWork ] startRemoveFiles vectSourceFileNames.size =  1 ";
        QTest::newRow("removal success at error level") << "remove"
                                                        << "ERROR"
                                                        << "[ OssFileWork ] run() DeleteObjects success. ";
        QTest::newRow("monitor start note") << "monitor-unconfigured"
                                            << "INFO "
                                            << "[ OssServerStatus ] startDetect called. ";
        QTest::newRow("monitor without configuration")
            << "monitor-unconfigured"
            << "ERROR"
            << "[ OssServerStatus ] configFileName or timeoutMilliseconds is invalid ";
    }
    void lines()
    {
        QFETCH(QString, job);
        QFETCH(QString, level);
        QFETCH(QString, message);
        const std::string config = sandbox.configPath().toStdString();
        const std::string local = sandbox.filePath("local.bin").toStdString();
        QVERIFY(TestConfig::writeFile(QString::fromStdString(local), "data"));
        QVERIFY(sandbox.putObject("logged.bin", "content"));

        if (job.startsWith("download")) {
            Nimbrel::OssFileDownloader worker;
            if (job != "download-unconfigured")
                worker.setConfigFileName(config);
            if (job == "download-list-refused")
                sandbox.failNext("ListObjects", 500, "InternalError", "Listing is down.");
            if (job == "download-empty")
                QVERIFY(!worker.startDownloadFile("", local));
            else if (job == "download-absent")
                QVERIFY(worker.startDownloadFile("absent.bin", local));
            else
                QVERIFY(worker.startDownloadFile("logged.bin", local));
            QVERIFY(worker.wait(20000));
        } else if (job.startsWith("upload")) {
            Nimbrel::OssFileUploader worker;
            if (job == "upload-missing" || job == "upload-folder") {
                worker.setConfigFileName(config);
                const QString name = job == "upload-missing" ? "no-such-file.bin" : ".";
                QVERIFY(!worker.startUploadFile(sandbox.filePath(name).toStdString(), "x.bin"));
            } else if (job.startsWith("upload-whole")) {
                worker.setConfigFileName(config);
                if (job == "upload-whole-refused")
                    sandbox.failNext("PutObject", 500, "InternalError", "Storing is down.");
                QVERIFY(worker.startUploadFile(local, "x.bin"));
            } else {
                const QString undecodable = sandbox.filePath("undecodable.cfg");
                QVERIFY(!TestConfig::writeUndecodable(undecodable).isEmpty());
                worker.setConfigFileName(undecodable.toStdString());
                worker.SetMultipart(true);
                QVERIFY(worker.startUploadFile(local, "x.bin"));
            }
            QVERIFY(worker.wait(20000));
        } else if (job.startsWith("list") || job == "remove") {
            Nimbrel::OssFileWork worker;
            worker.setConfigFileName(config);
            if (job == "list-refused")
                sandbox.failNext("ListObjects", 500, "InternalError", "Listing is down.");
            if (job == "remove")
                QVERIFY(worker.startRemoveFiles({"logged.bin"}));
            else
                QVERIFY(worker.startListFiles("logged"));
            QVERIFY(worker.wait(20000));
            worker.stopFileWork();
        } else {
            Nimbrel::OssServerStatus monitor;
            QVERIFY(!monitor.startDetect());
        }
        QTRY_VERIFY2(logged(level, message), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestStorageLogLines)
#include "tst_StorageLogLines.moc"
