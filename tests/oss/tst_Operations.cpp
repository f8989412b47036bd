// Every operation of the client layer against the emulator: successes, the
// service's errors, awkward keys, listing pages, multipart rules, deletion and
// progress reports.
#include "HttpDate.h"
#include "OssTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <ctime>
#include <fstream>
#include <future>

using namespace AlibabaCloud::OSS;
using OssTest::kBucket;

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void putGetRoundTrip_data();
    void putGetRoundTrip();
    void getMissingKeyLeavesStreamUntouched();
    void getIntoFileStream();
    void getIntoUnwritableStreamFails();
    void getRange();
    void putKeepsContentTypeAndMetadata();
    void callersOssDateIsTheSignedDate();
    void authErrors_data();
    void authErrors();
    void clockSkewIsLearnt();
    void invalidNamesAreRefusedLocally_data();
    void invalidNamesAreRefusedLocally();
    void headerFieldsAreCheckedBeforeSending_data();
    void headerFieldsAreCheckedBeforeSending();
    void unreadableUploadStreamSendsNothing();
    void virtualHostedForNamedEndpoint();

    void listingPages_data();
    void listingPages();
    void listingUrlEncoding();
    void listingMissingBucket();

    void multipartHappyPath();
    void multipartErrors_data();
    void multipartErrors();
    void uploadPartErrors_data();
    void uploadPartErrors();
    void abortMultipartUpload();

    void deleteObjects_data();
    void deleteObjects();

    void uploadProgress();
    void concurrentRequestsShareOneClient();
    void downloadProgress();

private:
    EmulatorProcess emulator_;
    std::unique_ptr<OssClient> client_;
};

namespace {

struct ProgressLog
{
    std::vector<size_t> increments;
    std::vector<int64_t> transferred;
    std::vector<int64_t> totals;

    static void handler(size_t increment, int64_t transfered, int64_t total, void* userData)
    {
        auto* log = static_cast<ProgressLog*>(userData);
        log->increments.push_back(increment);
        log->transferred.push_back(transfered);
        log->totals.push_back(total);
    }

    void verify(int64_t size) const
    {
        QVERIFY(!transferred.empty());
        int64_t sum = 0;
        int64_t previous = 0;
        for (size_t i = 0; i < transferred.size(); ++i) {
            sum += static_cast<int64_t>(increments[i]);
            QCOMPARE(transferred[i], sum);
            QVERIFY(transferred[i] > previous);
            QCOMPARE(totals[i], size);
            previous = transferred[i];
        }
        QCOMPARE(transferred.back(), size);
    }
};

// Readable once, front to back; it cannot seek, so it cannot tell its length.
class UnseekableStream : public std::iostream
{
public:
    explicit UnseekableStream(const std::string& data)
        : std::iostream(nullptr)
        , buffer_(data)
    {
        rdbuf(&buffer_);
    }

private:
    class Buffer : public std::streambuf
    {
    public:
        explicit Buffer(const std::string& data)
            : data_(data)
        {
            setg(&data_[0], &data_[0], &data_[0] + data_.size());
        }

    private:
        std::string data_;
    };

    Buffer buffer_;
};

PartList uploadParts(const OssClient& client, const std::string& key, const std::string& uploadId,
                     const QList<QByteArray>& parts)
{
    PartList list;
    for (int i = 0; i < parts.size(); ++i) {
        UploadPartRequest request(kBucket, key, OssTest::stream(parts[i]));
        request.setPartNumber(i + 1);
        request.setUploadId(uploadId);
        request.setContentLength(static_cast<uint64_t>(parts[i].size()));
        const auto outcome = client.UploadPart(request);
        if (!outcome.isSuccess())
            qWarning() << "UploadPart failed:" << outcome.error().Code().c_str();
        list.emplace_back(i + 1, outcome.result().ETag());
    }
    return list;
}

} // namespace

void TestOperations::initTestCase()
{
    InitializeSdk();
    QVERIFY2(emulator_.start(), qPrintable(emulator_.errorString()));
}

void TestOperations::init()
{
    QVERIFY(emulator_.clearFaults());
    QVERIFY(emulator_.clearLog());
    QVERIFY(emulator_.configure({{"clock_offset", 0}, {"page_limit", 1000}, {"min_part_size", 102400}}));
    client_ = OssTest::client(emulator_);
}

void TestOperations::putGetRoundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("size");

    QTest::newRow("plain") << "plain.txt" << 1000;
    QTest::newRow("empty object") << "empty.bin" << 0;
    QTest::newRow("folder-like key") << "dir/sub/file.bin" << 100001;
    QTest::newRow("blanks") << "with  blank .txt" << 10;
    QTest::newRow("plus") << "a+b=c.txt" << 10;
    QTest::newRow("tilde") << "~tilde~/x~" << 10;
    QTest::newRow("UTF-8") << QString::fromUtf8("日本/ü é.txt") << 10;
    QTest::newRow("reserved characters") << "%41#frag?q&x=1;,:@!$'()*" << 10;
    QTest::newRow("dot segments are names") << "a/./b/../c" << 10;
}

void TestOperations::putGetRoundTrip()
{
    QFETCH(QString, key);
    QFETCH(int, size);
    const QByteArray data = OssTest::pattern(size);

    const auto put = client_->PutObject(kBucket, key.toStdString(), OssTest::stream(data));
    QVERIFY2(put.isSuccess(), put.error().Message().c_str());
    QCOMPARE(put.result().ETag(), OssTest::quotedMd5(data));
    QVERIFY(!put.result().RequestId().empty());
    QCOMPARE(emulator_.object(QString::fromStdString(kBucket), key), std::optional<QByteArray>(data));

    const auto get = client_->GetObject(kBucket, key.toStdString());
    QVERIFY2(get.isSuccess(), get.error().Message().c_str());
    QCOMPARE(OssTest::content(get.result().Content()), data);
    QCOMPARE(get.result().Metadata().ContentLength(), int64_t(size));
    QCOMPARE(get.result().Metadata().ETag(), OssTest::quotedMd5(data));

    // An IP endpoint is addressed in path style, the key percent-encoded.
    const QJsonArray log = emulator_.requestLog();
    QCOMPARE(log.size(), 2);
    for (const auto& entry : log) {
        QCOMPARE(entry.toObject()["style"].toString(), QStringLiteral("path"));
        QCOMPARE(entry.toObject()["key"].toString(), key);
        QCOMPARE(entry.toObject()["status"].toInt(), 200);
    }
    QCOMPARE(log.at(0).toObject()["path"].toString(),
             "/examplebucket/" + QString::fromLatin1(QUrl::toPercentEncoding(key, "/~")));
}

void TestOperations::getMissingKeyLeavesStreamUntouched()
{
    int factoryCalls = 0;
    GetObjectRequest request(kBucket, "missing/key.txt");
    request.setResponseStreamFactory([&factoryCalls] {
        ++factoryCalls;
        return OssTest::stream(QByteArray());
    });
    const auto outcome = client_->GetObject(request);
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("NoSuchKey"));
    QCOMPARE(outcome.error().Message(), std::string("The specified key does not exist."));
    QCOMPARE(QString::fromStdString(outcome.error().RequestId()),
             emulator_.requestLog().at(0).toObject()["requestId"].toString());
    QCOMPARE(factoryCalls, 0);
}

void TestOperations::getIntoFileStream()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("local.bin");
    {
        std::ofstream old(path.toStdString());
        old << "old content that is longer than the object";
    }
    const QByteArray data = OssTest::pattern(5000, 3);
    QVERIFY(emulator_.putObject("examplebucket", "file.bin", data));

    GetObjectRequest request(kBucket, "file.bin");
    request.setResponseStreamFactory([path] {
        return std::make_shared<std::fstream>(path.toStdString(),
                                              std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    });
    {
        const auto outcome = client_->GetObject(request);
        QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), data);
}

void TestOperations::getIntoUnwritableStreamFails()
{
    QVERIFY(emulator_.putObject("examplebucket", "file.bin", "data"));
    GetObjectRequest request(kBucket, "file.bin");
    request.setResponseStreamFactory([] {
        return std::make_shared<std::fstream>("/nonexistent/dir/local.bin",
                                              std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    });
    const auto outcome = client_->GetObject(request);
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("ResponseStreamError"));
}

void TestOperations::getRange()
{
    const QByteArray data = OssTest::pattern(1000, 5);
    QVERIFY(emulator_.putObject("examplebucket", "range.bin", data));

    GetObjectRequest request(kBucket, "range.bin");
    request.setRange(10, 19);
    const auto ranged = client_->GetObject(request);
    QVERIFY2(ranged.isSuccess(), ranged.error().Message().c_str());
    QCOMPARE(OssTest::content(ranged.result().Content()), data.mid(10, 10));

    // Out of range: the service sends the whole object, which is then checked whole.
    request.setRange(1000, -1);
    const auto whole = client_->GetObject(request);
    QVERIFY2(whole.isSuccess(), whole.error().Message().c_str());
    QCOMPARE(OssTest::content(whole.result().Content()), data);
    QCOMPARE(emulator_.requestLog().at(0).toObject()["headers"].toObject()["Range"].toString(),
             QStringLiteral("bytes=10-19"));
}

void TestOperations::putKeepsContentTypeAndMetadata()
{
    ObjectMetaData meta;
    meta.addUserHeader("author", "alice");
    PutObjectRequest request(kBucket, "photo.jpg", OssTest::stream("jpeg"), meta);
    QVERIFY(client_->PutObject(request).isSuccess());
    const auto get = client_->GetObject(kBucket, "photo.jpg");
    QVERIFY(get.isSuccess());
    QCOMPARE(get.result().Metadata().ContentType(), std::string("image/jpeg"));
    QCOMPARE(get.result().Metadata().UserMetaData().at("author"), std::string("alice"));
}

void TestOperations::callersOssDateIsTheSignedDate()
{
    // The service times, and checks the signature of, a request by its x-oss-date,
    // here a minute before the Date the client adds.
    ObjectMetaData meta;
    meta.addHeader("x-oss-date", HttpDate::format(std::time(nullptr) - 60));
    PutObjectRequest request(kBucket, "dated.bin", OssTest::stream("dated"), meta);
    const auto outcome = client_->PutObject(request);
    QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
}

void TestOperations::authErrors_data()
{
    QTest::addColumn<QString>("keyId");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("code");

    QTest::newRow("wrong secret") << "EXAMPLEKEYID0001"
                                  << "not-the-secret"
                                  << "SignatureDoesNotMatch";
    QTest::newRow("unknown key id") << "UNKNOWNKEYID"
                                    << "whatever"
                                    << "InvalidAccessKeyId";
}

void TestOperations::authErrors()
{
    QFETCH(QString, keyId);
    QFETCH(QString, secret);
    QFETCH(QString, code);

    OssClient client(emulator_.endpoint().toStdString(),
                     std::make_shared<SimpleCredentialsProvider>(keyId.toStdString(), secret.toStdString()),
                     ClientConfiguration());
    const auto put = client.PutObject(kBucket, "auth.txt", OssTest::stream("x"));
    QVERIFY(!put.isSuccess());
    QCOMPARE(QString::fromStdString(put.error().Code()), code);
    QVERIFY(!put.error().RequestId().empty());
    QVERIFY(!emulator_.object("examplebucket", "auth.txt"));
    // One request: a refused signature is not retried.
    QCOMPARE(emulator_.requestLog().size(), 1);
}

void TestOperations::clockSkewIsLearnt()
{
    QVERIFY(emulator_.configure({{"clock_offset", 3600}}));
    const auto first = client_->ListObjects(kBucket);
    QVERIFY(!first.isSuccess());
    QCOMPARE(first.error().Code(), std::string("RequestTimeTooSkewed"));

    const auto second = client_->ListObjects(kBucket);
    QVERIFY2(second.isSuccess(), second.error().Code().c_str());

    ClientConfiguration fixedClock;
    fixedClock.enableDateSkewAdjustment = false;
    const auto fixed = OssTest::client(emulator_, fixedClock);
    QVERIFY(!fixed->ListObjects(kBucket).isSuccess());
    QCOMPARE(fixed->ListObjects(kBucket).error().Code(), std::string("RequestTimeTooSkewed"));
}

void TestOperations::invalidNamesAreRefusedLocally_data()
{
    QTest::addColumn<QString>("bucket");
    QTest::addColumn<QString>("key");

    QTest::newRow("upper-case bucket") << "ExampleBucket"
                                       << "k";
    QTest::newRow("short bucket") << "ab"
                                  << "k";
    QTest::newRow("empty key") << "examplebucket"
                               << "";
    QTest::newRow("key with leading slash") << "examplebucket"
                                            << "/k";
    QTest::newRow("key over 1023 bytes") << "examplebucket" << QString(1024, 'k');
}

void TestOperations::invalidNamesAreRefusedLocally()
{
    QFETCH(QString, bucket);
    QFETCH(QString, key);
    const auto put = client_->PutObject(bucket.toStdString(), key.toStdString(), OssTest::stream("x"));
    QVERIFY(!put.isSuccess());
    QCOMPARE(put.error().Code(), std::string("ValidateError"));
    const auto get = client_->GetObject(bucket.toStdString(), key.toStdString());
    QCOMPARE(get.error().Code(), std::string("ValidateError"));
    QCOMPARE(emulator_.requestLog().size(), 0);
}

void TestOperations::headerFieldsAreCheckedBeforeSending_data()
{
    QTest::addColumn<bool>("userMetadata");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("sent");

    const QByteArray injected("a\r\nX-Injected: yes");
    QTest::newRow("CR LF in a user value") << true << QByteArray("note") << injected << false;
    QTest::newRow("LF in a user value") << true << QByteArray("note") << QByteArray("a\nX-Injected: yes") << false;
    QTest::newRow("CR in a user value") << true << QByteArray("note") << QByteArray("a\rb") << false;
    QTest::newRow("NUL in a user value") << true << QByteArray("note") << QByteArray("a\0b", 3) << false;
    QTest::newRow("unit separator in a user value") << true << QByteArray("note")
                                                    << QByteArray("a\x1f"
                                                                  "b")
                                                    << false;
    QTest::newRow("DEL in a user value") << true << QByteArray("note")
                                         << QByteArray("a\x7f"
                                                       "b")
                                         << false;
    QTest::newRow("CR LF in a user name") << true << QByteArray("note\r\nX-Injected: yes") << QByteArray("a") << false;
    QTest::newRow("colon in a user name") << true << QByteArray("a:b") << QByteArray("a") << false;
    QTest::newRow("blank in a user name") << true << QByteArray("no te") << QByteArray("a") << false;
    QTest::newRow("CR LF in a header value") << false << QByteArray("Cache-Control") << injected << false;
    QTest::newRow("LF in a header name") << false << QByteArray("Cache-Control\nX-Injected") << QByteArray("a")
                                         << false;
    QTest::newRow("empty header name") << false << QByteArray("") << QByteArray("a") << false;
    // HTTP allows a tab inside a field value.
    QTest::newRow("tab inside a user value") << true << QByteArray("note") << QByteArray("a\tb") << true;
}

void TestOperations::headerFieldsAreCheckedBeforeSending()
{
    QFETCH(bool, userMetadata);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, sent);

    ObjectMetaData meta;
    if (userMetadata)
        meta.addUserHeader(name.toStdString(), value.toStdString());
    else
        meta.addHeader(name.toStdString(), value.toStdString());

    const auto put = client_->PutObject(PutObjectRequest(kBucket, "meta.txt", OssTest::stream("x"), meta));
    const auto initiated = client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "meta.txt", meta));
    if (!sent) {
        QCOMPARE(put.error().Code(), std::string("ValidateError"));
        QCOMPARE(initiated.error().Code(), std::string("ValidateError"));
        QCOMPARE(emulator_.requestLog().size(), 0);
        QVERIFY(!emulator_.object("examplebucket", "meta.txt"));
        return;
    }
    QVERIFY2(put.isSuccess(), put.error().Message().c_str());
    QVERIFY2(initiated.isSuccess(), initiated.error().Message().c_str());
    const auto get = client_->GetObject(kBucket, "meta.txt");
    QVERIFY(get.isSuccess());
    QCOMPARE(QByteArray::fromStdString(get.result().Metadata().UserMetaData().at(name.toStdString())), value);
}

void TestOperations::unreadableUploadStreamSendsNothing()
{
    // A local file that failed to open must not become an empty object.
    auto missing = std::make_shared<std::fstream>("/nonexistent/dir/file", std::ios::in | std::ios::binary);
    const auto put = client_->PutObject(kBucket, "never.bin", missing);
    QVERIFY(!put.isSuccess());
    QCOMPARE(put.error().Code(), std::string("ValidateError"));

    // A part longer than what the stream holds fails instead of sending a short part.
    UploadPartRequest part(kBucket, "never.bin", OssTest::stream("only ten b"));
    part.setContentLength(100);
    part.setPartNumber(1);
    part.setUploadId("ID");
    const auto uploaded = client_->UploadPart(part);
    QVERIFY(!uploaded.isSuccess());
    QCOMPARE(uploaded.error().Code(), std::string("ValidateError"));
    QVERIFY(!emulator_.object("examplebucket", "never.bin"));
    QCOMPARE(emulator_.requestLog().size(), 0);

    // A stream that cannot tell its length ends early: the request is abandoned.
    UploadPartRequest unseekable(kBucket, "never.bin", std::make_shared<UnseekableStream>("only ten b"));
    unseekable.setContentLength(100);
    unseekable.setPartNumber(1);
    unseekable.setUploadId("ID");
    const auto abandoned = client_->UploadPart(unseekable);
    QVERIFY(!abandoned.isSuccess());
    QCOMPARE(abandoned.error().Code(), std::string("RequestBodyError"));
    // The emulator logs the torn request once it notices; wait, so no later test sees it.
    QTRY_COMPARE(emulator_.requestLog().size(), 1);
    QCOMPARE(emulator_.requestLog().at(0).toObject()["status"].toInt(), 0);
}

void TestOperations::virtualHostedForNamedEndpoint()
{
    // libcurl answers *.localhost itself, so the bucket host stays on loopback.
    OssClient client(QStringLiteral("localhost:%1").arg(emulator_.port()).toStdString(),
                     std::make_shared<SimpleCredentialsProvider>(emulator_.options().accessKeyId.toStdString(),
                                                                 emulator_.options().accessKeySecret.toStdString()),
                     ClientConfiguration());
    const auto put = client.PutObject(kBucket, "virtual/hosted key.txt", OssTest::stream("v"));
    QVERIFY2(put.isSuccess(), put.error().Message().c_str());
    const QJsonObject entry = emulator_.requestLog().at(0).toObject();
    QCOMPARE(entry["style"].toString(), QStringLiteral("virtual"));
    QCOMPARE(entry["headers"].toObject()["Host"].toString(),
             QStringLiteral("examplebucket.localhost:%1").arg(emulator_.port()));
    QCOMPARE(entry["path"].toString(), QStringLiteral("/virtual/hosted%20key.txt"));
}

void TestOperations::listingPages_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<int>("maxKeys");
    QTest::addColumn<int>("pageLimit");
    QTest::addColumn<QStringList>("expectedKeys");
    QTest::addColumn<QStringList>("expectedPrefixes");
    QTest::addColumn<int>("expectedPages");

    const QStringList photos{"photos/a.jpg", "photos/b.jpg", "photos/c d.jpg", "photos/e+f.jpg"};
    QTest::newRow("one page, direct children only")
        << "photos/"
        << "/" << 0 << 1000 << photos << QStringList{"photos/2024/", "photos/2025/"} << 1;
    QTest::newRow("pages of two with prefixes")
        << "photos/"
        << "/" << 2 << 1000 << photos << QStringList{"photos/2024/", "photos/2025/"} << 3;
    QTest::newRow("service page limit below max-keys")
        << "photos/"
        << "/" << 0 << 1 << photos << QStringList{"photos/2024/", "photos/2025/"} << 6;
    QTest::newRow("no delimiter, every key")
        << "photos/"
        << "" << 3 << 1000 << QStringList{"photos/2024/x.jpg", "photos/2025/y.jpg", "photos/2025/z.jpg", "photos/a.jpg",
                                          "photos/b.jpg",      "photos/c d.jpg",    "photos/e+f.jpg"}
        << QStringList() << 3;
    QTest::newRow("prefix that matches nothing") << "nothing/"
                                                 << "/" << 0 << 1000 << QStringList() << QStringList() << 1;
    QTest::newRow("double slash prefix") << "photos//"
                                         << "/" << 0 << 1000 << QStringList() << QStringList() << 1;
}

void TestOperations::listingPages()
{
    QFETCH(QString, prefix);
    QFETCH(QString, delimiter);
    QFETCH(int, maxKeys);
    QFETCH(int, pageLimit);
    QFETCH(QStringList, expectedKeys);
    QFETCH(QStringList, expectedPrefixes);
    QFETCH(int, expectedPages);

    QVERIFY(emulator_.createBucket("listing"));
    for (const char* key : {"photos/a.jpg", "photos/b.jpg", "photos/c d.jpg", "photos/e+f.jpg", "photos/2024/x.jpg",
                            "photos/2025/y.jpg", "photos/2025/z.jpg", "photosX", "other/q.jpg"})
        QVERIFY(emulator_.putObject("listing", key, key));
    QVERIFY(emulator_.configure({{"page_limit", pageLimit}}));

    QStringList keys;
    QStringList prefixes;
    std::string marker;
    int pages = 0;
    for (;;) {
        ListObjectsRequest request("listing");
        request.setPrefix(prefix.toStdString());
        request.setDelimiter(delimiter.toStdString());
        request.setMarker(marker);
        if (maxKeys)
            request.setMaxKeys(maxKeys);
        const auto outcome = client_->ListObjects(request);
        QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
        ++pages;
        for (const ObjectSummary& summary : outcome.result().ObjectSummarys()) {
            keys << QString::fromStdString(summary.Key());
            QCOMPARE(summary.Size(), int64_t(summary.Key().size()));
            QVERIFY(summary.LastModified().size() == 24 && summary.LastModified().back() == 'Z');
        }
        for (const std::string& p : outcome.result().CommonPrefixes())
            prefixes << QString::fromStdString(p);
        if (!outcome.result().IsTruncated())
            break;
        QVERIFY(!outcome.result().NextMarker().empty());
        marker = outcome.result().NextMarker();
        QVERIFY(pages < 20);
    }
    QCOMPARE(keys, expectedKeys);
    QCOMPARE(prefixes, expectedPrefixes);
    QCOMPARE(pages, expectedPages);
    // Listing parameters travel in the query, percent-encoded.
    if (!prefix.isEmpty())
        QCOMPARE(emulator_.requestLog().at(0).toObject()["query"].toObject()["prefix"].toString(), prefix);
}

void TestOperations::listingUrlEncoding()
{
    QVERIFY(emulator_.createBucket("encoded"));
    const QString key = QString::fromUtf8("enc/ä & <b>.txt");
    QVERIFY(emulator_.putObject("encoded", key, "x"));
    ListObjectsRequest request("encoded");
    request.setPrefix("enc/");
    request.setEncodingType("url");
    const auto outcome = client_->ListObjects(request);
    QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
    QCOMPARE(outcome.result().ObjectSummarys().size(), size_t(1));
    QCOMPARE(QString::fromStdString(outcome.result().ObjectSummarys()[0].Key()), key);
    QCOMPARE(outcome.result().Prefix(), std::string("enc/"));
}

void TestOperations::listingMissingBucket()
{
    const auto outcome = client_->ListObjects("no-such-bucket", "x");
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(outcome.error().Code(), std::string("NoSuchBucket"));
    QCOMPARE(outcome.error().Message(), std::string("The specified bucket does not exist."));
}

void TestOperations::multipartHappyPath()
{
    const QList<QByteArray> parts{OssTest::pattern(102400, 1), OssTest::pattern(102400, 2), OssTest::pattern(7, 3)};
    InitiateMultipartUploadRequest initiate(kBucket, "multi/big.bin");
    const auto initiated = client_->InitiateMultipartUpload(initiate);
    QVERIFY2(initiated.isSuccess(), initiated.error().Message().c_str());
    const std::string uploadId = initiated.result().UploadId();
    QVERIFY(!uploadId.empty());
    QCOMPARE(initiated.result().Key(), std::string("multi/big.bin"));

    PartList list = uploadParts(*client_, "multi/big.bin", uploadId, parts);
    QCOMPARE(list[0].ETag(), OssTest::quotedMd5(parts[0]));
    // Given out of order; the client sends them sorted.
    std::swap(list[0], list[2]);
    CompleteMultipartUploadRequest complete(kBucket, "multi/big.bin");
    complete.setUploadId(uploadId);
    complete.setPartList(list);
    const auto completed = client_->CompleteMultipartUpload(complete);
    QVERIFY2(completed.isSuccess(), completed.error().Message().c_str());
    QVERIFY(!completed.result().ETag().empty());
    QCOMPARE(emulator_.object("examplebucket", "multi/big.bin"), std::optional<QByteArray>(parts.join()));
    QVERIFY(completed.result().CRC64() != 0);

    // The upload id is spent.
    const auto again = client_->CompleteMultipartUpload(complete);
    QCOMPARE(again.error().Code(), std::string("NoSuchUpload"));
}

void TestOperations::multipartErrors_data()
{
    QTest::addColumn<QList<int>>("partSizes");
    QTest::addColumn<QList<int>>("listedNumbers");
    QTest::addColumn<QStringList>("listedETags");
    QTest::addColumn<QString>("code");

    // An empty ETag in listedETags stands for the part's real one.
    QTest::newRow("empty part list") << QList<int>{} << QList<int>{} << QStringList() << "MalformedXML";
    QTest::newRow("wrong ETag") << QList<int>{5} << QList<int>{1} << QStringList{"\"0000\""} << "InvalidPart";
    QTest::newRow("part never uploaded") << QList<int>{5} << QList<int>{2} << QStringList{"\"0000\""} << "InvalidPart";
    QTest::newRow("duplicate part number")
        << QList<int>{102400, 5} << QList<int>{1, 1} << QStringList{"", ""} << "InvalidPartOrder";
    QTest::newRow("small part before the last")
        << QList<int>{1000, 5} << QList<int>{1, 2} << QStringList{"", ""} << "EntityTooSmall";
}

void TestOperations::multipartErrors()
{
    QFETCH(QList<int>, partSizes);
    QFETCH(QList<int>, listedNumbers);
    QFETCH(QStringList, listedETags);
    QFETCH(QString, code);

    const auto initiated = client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "bad.bin"));
    QVERIFY(initiated.isSuccess());
    QList<QByteArray> parts;
    for (int size : partSizes)
        parts << OssTest::pattern(size);
    const PartList uploaded = uploadParts(*client_, "bad.bin", initiated.result().UploadId(), parts);

    PartList list;
    for (int i = 0; i < listedNumbers.size(); ++i) {
        const std::string eTag = listedETags[i].isEmpty() ? uploaded[static_cast<size_t>(listedNumbers[i] - 1)].ETag()
                                                          : listedETags[i].toStdString();
        list.emplace_back(listedNumbers[i], eTag);
    }
    CompleteMultipartUploadRequest complete(kBucket, "bad.bin", list, initiated.result().UploadId());
    const auto completed = client_->CompleteMultipartUpload(complete);
    QVERIFY(!completed.isSuccess());
    QCOMPARE(QString::fromStdString(completed.error().Code()), code);
    QVERIFY(!completed.error().Message().empty());
    QVERIFY(!emulator_.object("examplebucket", "bad.bin"));
}

void TestOperations::uploadPartErrors_data()
{
    QTest::addColumn<int>("partNumber");
    QTest::addColumn<bool>("validUploadId");
    QTest::addColumn<QString>("code");

    QTest::newRow("unknown upload id") << 1 << false << "NoSuchUpload";
    QTest::newRow("part number zero") << 0 << true << "InvalidArgument";
    QTest::newRow("part number above 10000") << 10001 << true << "InvalidArgument";
}

void TestOperations::uploadPartErrors()
{
    QFETCH(int, partNumber);
    QFETCH(bool, validUploadId);
    QFETCH(QString, code);

    std::string uploadId;
    if (validUploadId)
        uploadId =
            client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "p.bin")).result().UploadId();
    UploadPartRequest request(kBucket, "p.bin", partNumber, uploadId, OssTest::stream("data"));
    const auto outcome = client_->UploadPart(request);
    QVERIFY(!outcome.isSuccess());
    QCOMPARE(QString::fromStdString(outcome.error().Code()), code);
}

void TestOperations::abortMultipartUpload()
{
    const auto initiated = client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "abort.bin"));
    QVERIFY(initiated.isSuccess());
    const AbortMultipartUploadRequest abort(kBucket, "abort.bin", initiated.result().UploadId());
    QVERIFY(client_->AbortMultipartUpload(abort).isSuccess());
    QCOMPARE(client_->AbortMultipartUpload(abort).error().Code(), std::string("NoSuchUpload"));
}

void TestOperations::deleteObjects_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("reported");

    const QStringList keys{"del/a.txt", "del/b c.txt", "del/missing.txt", QString::fromUtf8("del/ü+&.txt")};
    QTest::newRow("verbose lists every key, missing ones too") << false << keys << keys;
    QTest::newRow("quiet lists only failures") << true << keys << QStringList();
}

void TestOperations::deleteObjects()
{
    QFETCH(bool, quiet);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, reported);

    for (const QString& key : keys) {
        if (!key.contains("missing"))
            QVERIFY(emulator_.putObject("examplebucket", key, "x"));
    }
    DeleteObjectsRequest request(kBucket);
    for (const QString& key : keys)
        request.addKey(key.toStdString());
    request.setQuiet(quiet);
    const auto outcome = client_->DeleteObjects(request);
    QVERIFY2(outcome.isSuccess(), outcome.error().Message().c_str());
    QStringList listed;
    for (const std::string& key : outcome.result().keyList())
        listed << QString::fromStdString(key);
    QCOMPARE(listed, reported);
    for (const QString& key : keys)
        QVERIFY(!emulator_.object("examplebucket", key));
    QVERIFY(!emulator_.requestLog().at(0).toObject()["headers"].toObject()["Content-MD5"].toString().isEmpty());

    // One key at a time after clearKeyList, as a caller deleting in turn does.
    request.clearKeyList();
    request.addKey("del/again.txt");
    QVERIFY(client_->DeleteObjects(request).isSuccess());

    // An empty key list is refused by the service.
    request.clearKeyList();
    QCOMPARE(client_->DeleteObjects(request).error().Code(), std::string("MalformedXML"));
}

void TestOperations::uploadProgress()
{
    const QByteArray data = OssTest::pattern(1500000, 9);
    ProgressLog whole;
    PutObjectRequest put(kBucket, "progress.bin", OssTest::stream(data));
    put.setTransferProgress({ProgressLog::handler, &whole});
    QVERIFY(client_->PutObject(put).isSuccess());
    whole.verify(data.size());
    QVERIFY(whole.transferred.size() > 1);

    // A part reports its own length, not the whole file's.
    const auto initiated = client_->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, "progress.bin"));
    ProgressLog part;
    std::shared_ptr<std::iostream> content = OssTest::stream(data);
    content->seekg(102400);
    UploadPartRequest request(kBucket, "progress.bin", content);
    request.setPartNumber(2);
    request.setUploadId(initiated.result().UploadId());
    request.setContentLength(102400);
    request.setTransferProgress({ProgressLog::handler, &part});
    const auto uploaded = client_->UploadPart(request);
    QVERIFY(uploaded.isSuccess());
    QCOMPARE(uploaded.result().ETag(), OssTest::quotedMd5(data.mid(102400, 102400)));
    part.verify(102400);

    // The completion reports its XML body.
    ProgressLog completion;
    CompleteMultipartUploadRequest complete(kBucket, "progress.bin", {Part(2, uploaded.result().ETag())},
                                            initiated.result().UploadId());
    complete.setTransferProgress({ProgressLog::handler, &completion});
    QVERIFY(client_->CompleteMultipartUpload(complete).isSuccess());
    QVERIFY(!completion.totals.empty());
    completion.verify(completion.totals.front());
}

void TestOperations::downloadProgress()
{
    const QByteArray data = OssTest::pattern(1200000, 4);
    QVERIFY(emulator_.putObject("examplebucket", "down.bin", data));
    ProgressLog log;
    GetObjectRequest request(kBucket, "down.bin");
    request.setTransferProgress({ProgressLog::handler, &log});
    QVERIFY(client_->GetObject(request).isSuccess());
    log.verify(data.size());

    // An empty object reports nothing and succeeds.
    ProgressLog none;
    QVERIFY(emulator_.putObject("examplebucket", "none.bin", QByteArray()));
    GetObjectRequest empty(kBucket, "none.bin");
    empty.setTransferProgress({ProgressLog::handler, &none});
    QVERIFY(client_->GetObject(empty).isSuccess());
    QVERIFY(none.transferred.empty());
}

void TestOperations::concurrentRequestsShareOneClient()
{
    std::vector<std::future<bool>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [this, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string key = "concurrent/" + std::to_string(t) + "-" + std::to_string(i);
                const QByteArray data = OssTest::pattern(20000 + t * 1000 + i, t * 10 + i);
                if (!client_->PutObject(kBucket, key, OssTest::stream(data)).isSuccess())
                    return false;
                const auto get = client_->GetObject(kBucket, key);
                if (!get.isSuccess() || OssTest::content(get.result().Content()) != data)
                    return false;
            }
            return true;
        }));
    }
    for (auto& worker : workers)
        QVERIFY(worker.get());
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_Operations.moc"
