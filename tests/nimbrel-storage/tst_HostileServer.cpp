// The storage workers against answers no correct service gives, written byte
// by byte by a raw loopback server, and against an endpoint that is no web
// address: a job ends with a failure or with exactly the object, never with
// "finished" for something else, and never without end.
#include "OssFileDownloader.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"
#include "RawHttpServer.h"
#include "StorageFixtures.h"
#include "TestConfig.h"

#include "Crc64.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using Nimbrel::OssFileDownloader;
using Nimbrel::OssFileUploader;
using Nimbrel::OssFileWork;
using StorageFixtures::randomBytes;
using StorageFixtures::runToEnd;
using StorageFixtures::WorkerSpies;

namespace {

const QString kBucket = QStringLiteral("nimbrel-test");

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray crc64Header(const QByteArray& data)
{
    AlibabaCloud::OSS::Crc64 crc;
    crc.update(data.constData(), static_cast<size_t>(data.size()));
    return "x-oss-hash-crc64ecma: " + QByteArray::number(static_cast<qulonglong>(crc.value()));
}

// One truncated or last page of a listing, with one entry.
QByteArray listingPage(const QByteArray& key, qint64 size, bool truncated, const QByteArray& nextMarker)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ListBucketResult><Name>" + kBucket.toUtf8()
                           + "</Name><IsTruncated>" + (truncated ? "true" : "false") + "</IsTruncated><NextMarker>"
                           + nextMarker + "</NextMarker><Contents><Key>" + key
                           + "</Key><LastModified>2026-01-02T03:04:05.000Z</LastModified><Size>"
                           + QByteArray::number(size) + "</Size></Contents></ListBucketResult>";
    return RawHttpServer::answer("200 OK", {"Content-Type: application/xml"}, xml);
}

bool isListing(const QByteArray& head)
{
    return RawHttpServer::target(head).contains("?");
}

// Waits until the download has written into the local file: true once it
// holds more than the `planted` bytes that were there before, which the
// download empties first.
bool waitForBytesAbove(const QString& path, qint64 planted)
{
    QElapsedTimer timer;
    timer.start();
    while (QFileInfo(path).size() <= planted) {
        if (timer.elapsed() > 10000)
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace

class TestHostileServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir folder;

    QString writeConfig(const QString& host) const
    {
        return TestConfig::writeConfig(folder.filePath("account-%1.cfg").arg(qHash(host)), host, kBucket,
                                       QStringLiteral("HOSTILEKEYID0001"), QStringLiteral("HostileSecret0123"));
    }

private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }

    void downloadHoldsTheObjectOrFails_data()
    {
        QTest::addColumn<QByteArray>("answer");
        // Bytes of the answer after which another process puts a file of its own at the local name; -1: never.
        QTest::addColumn<int>("replaceAfter");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QByteArray>("file");

        const QByteArray object = randomBytes(1000000, 3);
        QByteArray chunked =
            "HTTP/1.1 200 OK\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n" + crc64Header(object) + "\r\n\r\n";
        for (qsizetype at = 0; at < object.size(); at += 10000)
            chunked += QByteArray::number(10000, 16) + "\r\n" + object.mid(at, 10000) + "\r\n";
        // The trailer section holds one line of a single blank.
        chunked += "0\r\n \r\n\r\n";
        const QByteArray whole = RawHttpServer::answer("200 OK", {crc64Header(object)}, object);

        QTest::newRow("chunked, a trailer line holding a blank") << chunked << -1 << true << object;
        QTest::newRow("206 to a request for the whole object") << RawHttpServer::answer(
            "206 Partial Content", {crc64Header(object), "Content-Range: bytes 0-499999/1000000"}, object.left(500000))
                                                               << -1 << false << QByteArray("old content");
        QTest::newRow("local file replaced during the transfer")
            << whole << int(whole.size() - 300000) << false << QByteArray("replaced");
    }
    void downloadHoldsTheObjectOrFails()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, replaceAfter);
        QFETCH(bool, finished);
        QFETCH(QByteArray, file);

        const QString local = folder.filePath(QStringLiteral("download-%1.bin").arg(QTest::currentDataTag()));
        const QByteArray planted = "old content";
        QVERIFY(TestConfig::writeFile(local, planted));
        RawHttpServer server([&](const QByteArray& head, const RawHttpServer::Write& write) {
            if (isListing(head)) {
                write(listingPage("docs/object.bin", 1000000, false, QByteArray()));
            } else if (replaceAfter < 0) {
                write(answer);
            } else {
                write(answer.left(replaceAfter));
                if (waitForBytesAbove(local, planted.size())) {
                    QFile::rename(local, local + ".moved");
                    TestConfig::writeFile(local, "replaced");
                }
                write(answer.mid(replaceAfter));
            }
        });
        QVERIFY(server.start());
        const QString config = writeConfig(server.endpoint());
        QVERIFY(!config.isEmpty());

        OssFileDownloader worker;
        WorkerSpies spies(worker, &OssFileDownloader::sigFileDownloadProgress,
                          &OssFileDownloader::sigFileDownloadFinished, &OssFileDownloader::sigFileDownloadFailed);
        worker.setConfigFileName(config.toStdString());
        QVERIFY(worker.startDownloadFile("docs/object.bin", local.toStdString()));
        runToEnd(worker, spies);

        QCOMPARE(spies.finished.count(), finished ? 1 : 0);
        if (!finished) {
            const QList<QVariant> failure = spies.failed.first();
            QVERIFY(!failure.at(2).toString().isEmpty());
            QCOMPARE(qvariant_cast<OssFileDownloader::OssErrorCode>(failure.at(3)), OssFileDownloader::OssServiceError);
        }
        QCOMPARE(fileContent(local), file);
    }

    void listingMarkerMustMoveForward_data()
    {
        // The next marker of each page; every page says it is truncated.
        QTest::addColumn<QByteArrayList>("nextMarkers");
        QTest::newRow("empty next marker") << QByteArrayList{""};
        QTest::newRow("next marker unchanged") << QByteArrayList{"photos/a", "photos/a"};
        QTest::newRow("next marker going back") << QByteArrayList{"photos/m", "photos/c"};
    }
    void listingMarkerMustMoveForward()
    {
        QFETCH(QByteArrayList, nextMarkers);

        // Bounded, so that a client which never stops shows as one that finished.
        const int lastPage = 20;
        int pages = 0;
        RawHttpServer server([&](const QByteArray&, const RawHttpServer::Write& write) {
            ++pages;
            const QByteArray key = "photos/k" + QByteArray::number(pages);
            const QByteArray marker = nextMarkers.at(qMin(pages, int(nextMarkers.size())) - 1);
            write(listingPage(key, pages, pages < lastPage, marker));
        });
        QVERIFY(server.start());
        const QString config = writeConfig(server.endpoint());
        QVERIFY(!config.isEmpty());

        OssFileWork worker;
        WorkerSpies spies(worker, &OssFileWork::sigFileWorkProgress, &OssFileWork::sigFileWorkFinished,
                          &OssFileWork::sigFileWorkFailed);
        worker.setConfigFileName(config.toStdString());
        QVERIFY(worker.startListFiles("photos"));
        runToEnd(worker, spies);

        QCOMPARE(spies.finished.count(), 0);
        const QList<QVariant> failure = spies.failed.first();
        QCOMPARE(failure.at(1).toString(), QStringLiteral("photos"));
        QCOMPARE(failure.at(2).toLongLong(), -1);
        QVERIFY2(failure.at(4).toString().contains("marker"), qPrintable(failure.at(4).toString()));
        QCOMPARE(qvariant_cast<OssFileWork::OssErrorCode>(failure.at(5)), OssFileWork::OssServiceError);
        // The page that did not move the listing on is the last one asked for.
        QCOMPARE(server.heads().size(), nextMarkers.size());
        std::vector<OssFileWork::OssFileInfo> infos;
        worker.getAllFilesInfo(infos);
        QCOMPARE(qsizetype(infos.size()), nextMarkers.size() - 1);
    }

    void uploadToFileUrlWritesNoFile()
    {
        // A file URL names the path /<bucket>/<key>: this folder, named as bucket and key.
        const QString relative = QDir::root().relativeFilePath(folder.path());
        const QString bucket = relative.section('/', 0, 0);
        const QString key = relative.section('/', 1) + "/written.bin";
        if (bucket.size() < 3 || bucket != bucket.toLower())
            QSKIP("The temporary folder's first component is no bucket name.");
        const QString config =
            TestConfig::writeConfig(folder.filePath("file-url.cfg"), QStringLiteral("file://127.0.0.1"), bucket,
                                    QStringLiteral("HOSTILEKEYID0001"), QStringLiteral("HostileSecret0123"));
        QVERIFY(!config.isEmpty());
        const QString source = folder.filePath("source.bin");
        QVERIFY(TestConfig::writeFile(source, "would land in a local file"));

        OssFileUploader worker;
        WorkerSpies spies(worker, &OssFileUploader::sigFileUploadProgress, &OssFileUploader::sigFileUploadFinished,
                          &OssFileUploader::sigFileUploadFailed);
        worker.setConfigFileName(config.toStdString());
        QVERIFY(worker.startUploadFile(source.toStdString(), key.toStdString()));
        runToEnd(worker, spies);

        QVERIFY(!QFileInfo::exists(folder.filePath("written.bin")));
        QCOMPARE(spies.failed.count(), 1);
        QCOMPARE(qvariant_cast<OssFileUploader::OssErrorCode>(spies.failed.first().at(3)),
                 OssFileUploader::OssServiceError);
    }
};

QTEST_GUILESS_MAIN(TestHostileServer)
#include "tst_HostileServer.moc"
