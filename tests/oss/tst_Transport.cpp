// Transport and integrity failures, injected by the emulator per request, and
// cancellation from another thread: each ends in a failed outcome with a clear
// code, never in a success, a hang or a crash.
#include "OssTestSupport.h"

#include "Crc64.h"
#include "RawHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

using namespace AlibabaCloud::OSS;
using OssTest::kBucket;

class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void refusedConnection();
    void unresolvableName();
    void downloadFaults_data();
    void downloadFaults();
    void uploadFaults_data();
    void uploadFaults();
    void damagedDownloadStaysShort_data();
    void damagedDownloadStaysShort();
    void stallEndsAtTheLimit_data();
    void stallEndsAtTheLimit();
    void slowTransferOutlastsTheLimit();
    void malformedSuccessBodies_data();
    void malformedSuccessBodies();
    void missingPartETag();
    void connectionsAreReused();
    void crcCheckCanBeSwitchedOff();
    void tlsPeerIsVerified();
    void answersTheRequestDidNotAskFor_data();
    void answersTheRequestDidNotAskFor();
    void localProtocolsAreRefused_data();
    void localProtocolsAreRefused();

    void cancelRunningDownload();
    void cancelRunningUpload();

private:
    EmulatorProcess emulator_;
    std::unique_ptr<OssClient> client_;
    QByteArray object_;
};

namespace {

ClientConfiguration shortTimeouts()
{
    ClientConfiguration configuration;
    configuration.requestTimeoutMs = 1000;
    configuration.connectTimeoutMs = 1000;
    return configuration;
}

// A loopback port nobody listens on: bound, then closed again.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

QByteArray crc64Of(const QByteArray& data)
{
    Crc64 crc;
    crc.update(data.constData(), static_cast<size_t>(data.size()));
    return QByteArray::number(static_cast<qulonglong>(crc.value()));
}

// A 200 answer whose body travels in chunks of 65536 bytes, the last-chunk
// line and then `trailers` (each line with its CRLF, the blank line included).
QByteArray chunkedAnswer(const QByteArray& body, const QByteArray& trailers)
{
    QByteArray bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n"
                       "x-oss-hash-crc64ecma: "
                       + crc64Of(body) + "\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += 65536) {
        const QByteArray chunk = body.mid(at, 65536);
        bytes += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return bytes + "0\r\n" + trailers;
}

} // namespace

void TestTransport::initTestCase()
{
    InitializeSdk();
    QVERIFY2(emulator_.start(), qPrintable(emulator_.errorString()));
    object_ = OssTest::pattern(300000, 11);
    QVERIFY(emulator_.putObject("examplebucket", "object.bin", object_));
}

void TestTransport::init()
{
    QVERIFY(emulator_.clearFaults());
    QVERIFY(emulator_.clearLog());
    client_ = OssTest::client(emulator_, shortTimeouts());
}

void TestTransport::refusedConnection()
{
    OssClient client(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()).toStdString(), "id", "secret",
                     shortTimeouts());
    const auto outcome = client.GetObject(kBucket, "object.bin");
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("ClientError:200007"));
    QVERIFY2(outcome.error().Message().find("Couldn't connect") == 0, outcome.error().Message().c_str());
    QVERIFY(outcome.error().RequestId().empty());
}

void TestTransport::unresolvableName()
{
    // A 64-character label is no valid DNS name: the resolver fails locally,
    // without sending a query, and .invalid could never resolve anyway.
    const std::string host = std::string(64, 'a') + ".invalid";
    OssClient client(host, "id", "secret", shortTimeouts());
    const auto outcome = client.ListObjects(kBucket);
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("ClientError:200006"));
    QVERIFY2(outcome.error().Message().find("resolve") != std::string::npos, outcome.error().Message().c_str());
}

void TestTransport::downloadFaults_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("code");

    QTest::newRow("reset mid-body") << QJsonObject{{"reset_after", 100000}} << "ClientError:200056";
    QTest::newRow("closed mid-body") << QJsonObject{{"short_body", 100000}} << "ClientError:200018";
    QTest::newRow("closed before any answer") << QJsonObject{{"close", true}} << "ClientError:200052";
    QTest::newRow("stalled body") << QJsonObject{{"stall_after", 1000}, {"stall", 20}} << "ClientError:200028";
    QTest::newRow("stalled before headers") << QJsonObject{{"delay", 20}} << "ClientError:200028";
    QTest::newRow("Content-Length shorter than the object")
        << QJsonObject{{"declared_length", 1000}} << "CrcCheckError";
    QTest::newRow("wrong CRC-64") << QJsonObject{{"bad_crc", true}} << "CrcCheckError";
    QTest::newRow("503 with error XML") << QJsonObject{{"status", 503}, {"code", "ServiceUnavailable"}}
                                        << "ServiceUnavailable";
    QTest::newRow("500 without a body") << QJsonObject{{"status", 500}} << "ServerError:500";
}

void TestTransport::downloadFaults()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, code);

    fault.insert("key", "object.bin");
    QVERIFY(emulator_.addFault(fault));
    QElapsedTimer timer;
    timer.start();
    const auto outcome = client_->GetObject(kBucket, "object.bin");
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(QString::fromStdString(outcome.error().Code()), code);
    QVERIFY(!outcome.error().Message().empty());
    // A stall ends at the 1 s limit, well before the emulator gives up.
    QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));

    // The client recovers on its next request.
    const auto next = client_->GetObject(kBucket, "object.bin");
    QVERIFY2(next.isSuccess(), next.error().Message().c_str());
    QCOMPARE(OssTest::content(next.result().Content()), object_);
}

void TestTransport::uploadFaults_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<bool>("stored");

    QTest::newRow("reset while uploading") << QJsonObject{{"reset_upload_after", 50000}}
                                           << QStringList{"ClientError:200055", "ClientError:200056"} << false;
    QTest::newRow("wrong CRC-64 in the answer")
        << QJsonObject{{"bad_crc", true}} << QStringList{"CrcCheckError"} << true;
    QTest::newRow("stored, then reset") << QJsonObject{{"apply_then_reset", true}}
                                        << QStringList{"ClientError:200056", "ClientError:200052"} << true;
    QTest::newRow("slow answer after the body")
        << QJsonObject{{"delay", 20}} << QStringList{"ClientError:200028"} << false;
}

void TestTransport::uploadFaults()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QStringList, codes);
    QFETCH(bool, stored);

    fault.insert("method", "PUT");
    QVERIFY(emulator_.addFault(fault));
    const auto outcome = client_->PutObject(kBucket, "upload.bin", OssTest::stream(object_));
    QVERIFY(!outcome.isSuccess());
    QVERIFY2(codes.contains(QString::fromStdString(outcome.error().Code())), outcome.error().Code().c_str());
    // A delayed fault stores after the client gave up; only check the cases that settle at once.
    if (!fault.contains("delay"))
        QCOMPARE(emulator_.object("examplebucket", "upload.bin").has_value(), stored);
    QVERIFY(emulator_.clearFaults());
}

void TestTransport::damagedDownloadStaysShort_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QJsonObject>("fault");
    // How the body travels, in both the damaged and the good download.
    QTest::addColumn<QJsonObject>("delivery");

    QTest::newRow("one chunk, a byte inverted") << 1000 << QJsonObject{{"corrupt_at", 10}} << QJsonObject();
    QTest::newRow("many chunks, an early byte inverted") << 3000000 << QJsonObject{{"corrupt_at", 5}} << QJsonObject();
    QTest::newRow("many chunks, the last byte inverted")
        << 3000000 << QJsonObject{{"corrupt_at", 2999999}} << QJsonObject();
    QTest::newRow("many chunks, wrong CRC-64 header") << 3000000 << QJsonObject{{"bad_crc", true}} << QJsonObject();
    QTest::newRow("small pieces, a byte inverted")
        << 300000 << QJsonObject{{"corrupt_at", 5}} << QJsonObject{{"trickle", 3000}, {"interval", 0.002}};
}

void TestTransport::damagedDownloadStaysShort()
{
    QFETCH(int, size);
    QFETCH(QJsonObject, fault);
    QFETCH(QJsonObject, delivery);

    const QByteArray data = OssTest::pattern(size, 5);
    QVERIFY(emulator_.putObject("examplebucket", "damaged.bin", data));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("damaged.bin");
    int64_t reported = 0;
    const auto fetch = [&] {
        GetObjectRequest request(kBucket, "damaged.bin");
        request.setResponseStreamFactory([&] {
            return std::make_shared<std::fstream>(path.toStdString(),
                                                  std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
        });
        request.setTransferProgress(
            {[&reported](size_t, int64_t transferred, int64_t, void*) { reported = transferred; }, nullptr});
        // The outcome holds the stream: the file is closed when this returns.
        return client_->GetObject(request).error().Code();
    };

    delivery.insert("key", "damaged.bin");
    for (auto it = delivery.begin(); it != delivery.end(); ++it)
        fault.insert(it.key(), it.value());
    QVERIFY(emulator_.addFault(fault));
    QCOMPARE(fetch(), std::string("CrcCheckError"));
    // A file of the object's full length would pass for a complete download.
    QVERIFY2(QFileInfo(path).size() < size, qPrintable(QString::number(QFileInfo(path).size())));

    // Without the fault: the whole object, and progress up to its size.
    QVERIFY(emulator_.addFault(delivery));
    QCOMPARE(fetch(), std::string());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), data);
    QCOMPARE(reported, int64_t(size));
}

void TestTransport::stallEndsAtTheLimit_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("limitMs");

    QTest::newRow("no answer") << "GET" << QJsonObject{{"delay", 20}} << 1000;
    QTest::newRow("headers, then silence") << "GET" << QJsonObject{{"stall_after", 0}} << 1000;
    QTest::newRow("100 bytes, then silence") << "GET" << QJsonObject{{"stall_after", 100}} << 1000;
    QTest::newRow("65536 bytes, then silence") << "GET" << QJsonObject{{"stall_after", 65536}} << 1000;
    QTest::newRow("65536 bytes, then silence, 2 s limit") << "GET" << QJsonObject{{"stall_after", 65536}} << 2000;
    QTest::newRow("upload read for 65536 bytes, then silence")
        << "PUT" << QJsonObject{{"stall_upload_after", 65536}} << 1000;
}

void TestTransport::stallEndsAtTheLimit()
{
    QFETCH(QString, method);
    QFETCH(QJsonObject, fault);
    QFETCH(int, limitMs);

    ClientConfiguration configuration = shortTimeouts();
    configuration.requestTimeoutMs = limitMs;
    const auto client = OssTest::client(emulator_, configuration);
    // More than the socket buffers hold, so the upload itself stalls.
    const QByteArray body = OssTest::pattern(method == "PUT" ? 16 * 1024 * 1024 : 0);
    fault.insert("method", method);
    fault.insert("stall", 20);
    QVERIFY(emulator_.addFault(fault));

    QElapsedTimer timer;
    timer.start();
    const OssError error = method == "GET" ? client->GetObject(kBucket, "object.bin").error()
                                           : client->PutObject(kBucket, "stalled.bin", OssTest::stream(body)).error();
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(error.Code(), std::string("ClientError:200028"));
    // Whatever arrived before, the stall is what is timed; the margin is for a busy machine.
    QVERIFY2(elapsed >= limitMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < limitMs + 2000, qPrintable(QString::number(elapsed)));
}

void TestTransport::slowTransferOutlastsTheLimit()
{
    // The limit is on silence, not on the whole request: ten pieces, 0.3 s apart.
    ClientConfiguration configuration = shortTimeouts();
    configuration.requestTimeoutMs = 2000;
    const auto client = OssTest::client(emulator_, configuration);
    const QByteArray data = OssTest::pattern(5000, 3);
    QVERIFY(emulator_.putObject("examplebucket", "trickle.bin", data));
    QVERIFY(emulator_.addFault({{"key", "trickle.bin"}, {"trickle", 500}, {"interval", 0.3}}));
    const auto outcome = client->GetObject(kBucket, "trickle.bin");
    QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
    QCOMPARE(OssTest::content(outcome.result().Content()), data);
}

void TestTransport::malformedSuccessBodies_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("ListObjects") << "list";
    QTest::newRow("InitiateMultipartUpload") << "initiate";
}

void TestTransport::malformedSuccessBodies()
{
    QFETCH(QString, operation);
    QVERIFY(emulator_.addFault({{"bad_xml", true}}));
    const OssError error =
        operation == "list"
            ? client_->ListObjects(kBucket).error()
            : client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "x.bin")).error();
    QCOMPARE(error.Code(), std::string("ParseXMLError"));
    QVERIFY(!error.RequestId().empty());
}

void TestTransport::missingPartETag()
{
    const auto initiated = client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "m.bin"));
    QVERIFY(emulator_.addFault({{"query", "partNumber"}, {"no_etag", true}}));
    UploadPartRequest part(kBucket, "m.bin", 1, initiated.result().UploadId(), OssTest::stream("part"));
    const auto outcome = client_->UploadPart(part);
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("ResponseError"));
}

void TestTransport::connectionsAreReused()
{
    // Names of this test's own: a stalled request of an earlier test may still be
    // logged while this one runs.
    QVERIFY(emulator_.putObject("examplebucket", "reused.bin", "reused"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(client_->GetObject(kBucket, "reused.bin").isSuccess());
    QVERIFY(client_->PutObject(kBucket, "reuse.bin", OssTest::stream("x")).isSuccess());
    QJsonArray log;
    for (const auto& entry : emulator_.requestLog()) {
        const QString key = entry.toObject()["key"].toString();
        if (key == "reused.bin" || key == "reuse.bin")
            log.append(entry);
    }
    QCOMPARE(log.size(), 4);
    for (const auto& entry : log)
        QCOMPARE(entry.toObject()["peerPort"].toInt(), log.at(0).toObject()["peerPort"].toInt());
}

void TestTransport::crcCheckCanBeSwitchedOff()
{
    ClientConfiguration configuration = shortTimeouts();
    configuration.enableCrc64 = false;
    const auto client = OssTest::client(emulator_, configuration);
    QVERIFY(emulator_.addFault({{"key", "object.bin"}, {"bad_crc", true}}));
    QVERIFY(client->GetObject(kBucket, "object.bin").isSuccess());
}

void TestTransport::tlsPeerIsVerified()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString certificate = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);

    EmulatorProcess::Options options;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    EmulatorProcess tls(options);
    QVERIFY2(tls.start(), qPrintable(tls.errorString()));
    QVERIFY(tls.endpoint().startsWith("https://"));

    // A certificate nobody vouches for is refused by default.
    const auto untrusted = OssTest::client(tls, shortTimeouts())->ListObjects(kBucket);
    QVERIFY(!untrusted.isSuccess());
    QCOMPARE(untrusted.error().Code(), std::string("ClientError:200060"));

    ClientConfiguration trusting = shortTimeouts();
    trusting.caFile = certificate.toStdString();
    const auto trusted = OssTest::client(tls, trusting)->ListObjects(kBucket);
    QVERIFY2(trusted.isSuccess(), trusted.error().Message().c_str());
}

void TestTransport::answersTheRequestDidNotAskFor_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("ranged");
    QTest::addColumn<QString>("code");
    // What the local file holds afterwards; its old content when the answer was refused.
    QTest::addColumn<QByteArray>("file");

    const QByteArray object = OssTest::pattern(200000, 9);
    const QByteArray half = object.left(100000);
    const QByteArray crc = "x-oss-hash-crc64ecma: " + crc64Of(object);
    QTest::newRow("chunked, a trailer line holding a blank")
        << chunkedAnswer(object, " \r\n\r\n") << false << "" << object;
    QTest::newRow("chunked, trailers that look like a new response")
        << chunkedAnswer(object, "HTTP/1.1: 200 OK\r\nContent-Length: 5\r\n\r\n") << false << "" << object;
    QTest::newRow("100 Continue before the answer")
        << "HTTP/1.1 100 Continue\r\n\r\n" + RawHttpServer::answer("200 OK", {crc}, object) << false << "" << object;
    QTest::newRow("206 to a request for the whole object")
        << RawHttpServer::answer("206 Partial Content", {crc, "Content-Range: bytes 0-99999/200000"}, half) << false
        << "ResponseError" << QByteArray("old content");
    QTest::newRow("204 to a request for an object")
        << QByteArray("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n") << false << "ResponseError"
        << QByteArray("old content");
    QTest::newRow("206 to a request for a range")
        << RawHttpServer::answer("206 Partial Content", {crc, "Content-Range: bytes 0-99999/200000"}, half) << true
        << "" << half;
}

void TestTransport::answersTheRequestDidNotAskFor()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, ranged);
    QFETCH(QString, code);
    QFETCH(QByteArray, file);

    RawHttpServer server([&answer](const QByteArray&, const RawHttpServer::Write& write) { write(answer); });
    QVERIFY(server.start());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("object.bin");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();

    OssClient client(server.endpoint().toStdString(), "id", "secret", shortTimeouts());
    GetObjectRequest request(kBucket, "object.bin");
    if (ranged)
        request.setRange(0, 99999);
    int opened = 0;
    request.setResponseStreamFactory([&] {
        ++opened;
        return std::make_shared<std::fstream>(path.toStdString(),
                                              std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    });
    const std::string error = client.GetObject(request).error().Code();

    QCOMPARE(QString::fromStdString(error), code);
    QFile result(path);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), file);
    // Opened with truncation once for an answer taken, never for one refused.
    QCOMPARE(opened, code.isEmpty() ? 1 : 0);
}

void TestTransport::localProtocolsAreRefused_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("upload") << "PUT";
    QTest::newRow("download") << "GET";
}

void TestTransport::localProtocolsAreRefused()
{
    QFETCH(QString, method);

    // A file URL names the path /<bucket>/<key>: the sandbox, named as bucket and key.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString relative = QDir::root().relativeFilePath(dir.path());
    const std::string bucket = relative.section('/', 0, 0).toStdString();
    const std::string key = relative.section('/', 1).toStdString() + "/object.bin";
    if (bucket.size() < 3 || QString::fromStdString(bucket) != QString::fromStdString(bucket).toLower())
        QSKIP("The temporary folder's first component is no bucket name.");
    const QString path = dir.filePath("object.bin");
    const QString target = dir.filePath("target.bin");

    OssClient client("file://127.0.0.1", "id", "secret", shortTimeouts());
    OssError error;
    if (method == "PUT") {
        error = client.PutObject(bucket, key, OssTest::stream("local write")).error();
    } else {
        QFile local(path);
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("local secret");
        local.close();
        GetObjectRequest request(bucket, key);
        request.setResponseStreamFactory([&target] {
            return std::make_shared<std::fstream>(target.toStdString(),
                                                  std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
        });
        error = client.GetObject(request).error();
    }
    QCOMPARE(QFileInfo::exists(path), method == "GET");
    QVERIFY(!QFileInfo::exists(target));
    // libcurl's "unsupported protocol": refused before any file was touched.
    QCOMPARE(error.Code(), std::string("ClientError:200001"));
}

void TestTransport::cancelRunningDownload()
{
    ClientConfiguration configuration;
    configuration.requestTimeoutMs = 60000;
    const auto client = OssTest::client(emulator_, configuration);
    QVERIFY(emulator_.addFault({{"key", "object.bin"}, {"stall_after", 5000}, {"stall", 30}}));

    std::atomic<int64_t> received{0};
    GetObjectRequest request(kBucket, "object.bin");
    request.setTransferProgress(
        {[&received](size_t, int64_t transferred, int64_t, void*) { received = transferred; }, nullptr});
    auto running = std::async(std::launch::async, [&] { return client->GetObject(request); });
    while (received < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    QElapsedTimer timer;
    timer.start();
    client->DisableRequest();
    QVERIFY(running.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    const auto outcome = running.get();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("ClientError:200042"));

    // Later requests fail at once until the client is enabled again.
    QCOMPARE(client->ListObjects(kBucket).error().Code(), std::string("ClientError:200042"));
    client->EnableRequest();
    QVERIFY(client->ListObjects(kBucket).isSuccess());
}

void TestTransport::cancelRunningUpload()
{
    ClientConfiguration configuration;
    configuration.requestTimeoutMs = 60000;
    const auto client = OssTest::client(emulator_, configuration);
    // The emulator holds the answer back; the client waits with the body sent.
    QVERIFY(emulator_.addFault({{"method", "PUT"}, {"delay", 30}}));
    auto running = std::async(std::launch::async,
                              [&] { return client->PutObject(kBucket, "cancelled.bin", OssTest::stream(object_)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QElapsedTimer timer;
    timer.start();
    client->DisableRequest();
    QVERIFY(running.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(running.get().error().Code(), std::string("ClientError:200042"));
}

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_Transport.moc"
