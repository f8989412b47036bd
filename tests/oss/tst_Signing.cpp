// The V1 signature, the canonical forms it is computed over, key encoding,
// endpoint parsing and CRC-64, checked against published vectors.
#include "Crc64.h"
#include "HttpDate.h"
#include "Signer.h"
#include "Url.h"

#include <QTest>

using namespace AlibabaCloud::OSS;

namespace {

const char* const kSecret = "ExampleSecret0123456789abcdefEXAMPLE";
const char* const kDate = "Wed, 28 May 2025 08:00:00 GMT";

} // namespace

class TestSigning : public QObject
{
    Q_OBJECT

private slots:
    void signature_data();
    void signature();
    void canonicalizedResource_data();
    void canonicalizedResource();
    void ossHeadersAreLoweredTrimmedAndSorted();
    void ossDateIsTheSignedDate();
    void keyEncoding_data();
    void keyEncoding();
    void endpoint_data();
    void endpoint();
    void crc64_data();
    void crc64();
    void dateIsRfc1123InGmt();
};

void TestSigning::signature_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("contentMd5");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ListObjects") << "GET"
                                 << ""
                                 << ""
                                 << "/examplebucket/"
                                 << "LiKUf54m1dIWloLR4e+oVGP0JAw=";
    QTest::newRow("GetObject") << "GET"
                               << ""
                               << ""
                               << "/examplebucket/docs/hello world.txt"
                               << "gfalTQic8q3/DrkWWB0fbpWvTes=";
    QTest::newRow("InitiateMultipartUpload") << "POST"
                                             << ""
                                             << ""
                                             << "/examplebucket/big.bin?uploads"
                                             << "skMm5lIHGxWIB53UvmswKoxTFgQ=";
    QTest::newRow("UploadPart") << "PUT"
                                << ""
                                << ""
                                << "/examplebucket/big.bin?partNumber=1&uploadId=0004B999EF518A1FE585B0C9"
                                << "dFHcS7B3pSoKfNxzq7Bq+WlO45A=";
    QTest::newRow("CompleteMultipartUpload") << "POST"
                                             << ""
                                             << "application/xml"
                                             << "/examplebucket/big.bin?uploadId=0004B999EF518A1FE585B0C9"
                                             << "XFiEIbUkI1Pjmd0OsPTKcAwnt/w=";
    QTest::newRow("DeleteMultipleObjects") << "POST"
                                           << "FHDVahYIPMsEyA3n9cnapQ=="
                                           << "application/xml"
                                           << "/examplebucket/?delete"
                                           << "hM3ahL/wKwVEWwIjUgz/8uBclVE=";
}

void TestSigning::signature()
{
    QFETCH(QString, method);
    QFETCH(QString, contentMd5);
    QFETCH(QString, contentType);
    QFETCH(QString, resource);
    QFETCH(QString, expected);

    HeaderCollection headers{{"Date", kDate}};
    if (!contentMd5.isEmpty())
        headers["Content-MD5"] = contentMd5.toStdString();
    if (!contentType.isEmpty())
        headers["Content-Type"] = contentType.toStdString();
    const std::string toSign = Signer::stringToSign(method.toStdString(), headers, resource.toStdString());
    QCOMPARE(QString::fromStdString(Signer::signature(kSecret, toSign)), expected);
}

void TestSigning::canonicalizedResource_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("parameters");
    QTest::addColumn<QString>("expected");

    QTest::newRow("bucket keeps its trailing slash") << "" << QStringList() << "/examplebucket/";
    QTest::newRow("listing parameters are not signed")
        << "" << QStringList{"prefix=a/", "marker=m", "max-keys=2", "delimiter=/", "encoding-type=url"}
        << "/examplebucket/";
    QTest::newRow("raw key, not percent-encoded")
        << "docs/hello world+~.txt" << QStringList() << "/examplebucket/docs/hello world+~.txt";
    QTest::newRow("bare sub-resource") << "big.bin" << QStringList{"uploads="} << "/examplebucket/big.bin?uploads";
    QTest::newRow("sorted by byte value")
        << "big.bin" << QStringList{"uploadId=ID", "partNumber=3"} << "/examplebucket/big.bin?partNumber=3&uploadId=ID";
    QTest::newRow("complete ignores encoding-type")
        << "big.bin" << QStringList{"uploadId=ID", "encoding-type=url"} << "/examplebucket/big.bin?uploadId=ID";
    QTest::newRow("overrides sorted with the rest")
        << "O" << QStringList{"uploadId=U", "response-content-type=T", "acl="}
        << "/examplebucket/O?acl&response-content-type=T&uploadId=U";
}

void TestSigning::canonicalizedResource()
{
    QFETCH(QString, key);
    QFETCH(QStringList, parameters);
    QFETCH(QString, expected);

    ParameterCollection collection;
    for (const QString& p : parameters) {
        const qsizetype eq = p.indexOf('=');
        collection[p.left(eq).toStdString()] = p.mid(eq + 1).toStdString();
    }
    QCOMPARE(QString::fromStdString(Signer::canonicalizedResource("examplebucket", key.toStdString(), collection)),
             expected);
}

void TestSigning::ossHeadersAreLoweredTrimmedAndSorted()
{
    // The worked example: PUT with MD5, type, and two x-oss-meta headers.
    const HeaderCollection headers{{"Content-MD5", "EQP2UOssKS0XmgMtKpew9Q=="},
                                   {"Content-Type", "text/plain"},
                                   {"Date", kDate},
                                   {"X-OSS-Meta-Tag", "demo"},
                                   {"x-oss-meta-author", "   alice  "},
                                   {"Content-Length", "12"}};
    QCOMPARE(Signer::canonicalizedOssHeaders(headers), std::string("x-oss-meta-author:alice\nx-oss-meta-tag:demo\n"));
    const std::string toSign = Signer::stringToSign("PUT", headers, "/examplebucket/docs/hello world.txt");
    QCOMPARE(Signer::signature(kSecret, toSign), std::string("x2th9S5HU1oebn6znLjaDViBRzs="));
}

void TestSigning::ossDateIsTheSignedDate()
{
    // With x-oss-date the Date header no longer counts; the value is signed in
    // the date line and again among the x-oss-* headers.
    const HeaderCollection headers{{"Date", "Thu, 01 Jan 2015 00:00:00 GMT"}, {"x-oss-date", kDate}};
    QCOMPARE(Signer::stringToSign("GET", headers, "/examplebucket/docs/hello world.txt"),
             std::string("GET\n\n\n") + kDate + "\nx-oss-date:" + kDate + "\n/examplebucket/docs/hello world.txt");
}

void TestSigning::keyEncoding_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank is %20") << "hello world.txt"
                                  << "hello%20world.txt";
    QTest::newRow("plus is %2B") << "a+b"
                                 << "a%2Bb";
    QTest::newRow("unreserved and slash kept") << "dir/A-z_0.9~"
                                               << "dir/A-z_0.9~";
    QTest::newRow("reserved encoded") << "%#?&="
                                      << "%25%23%3F%26%3D";
    QTest::newRow("UTF-8 bytes, upper-case hex") << QString::fromUtf8("é/ü") << "%C3%A9/%C3%BC";
}

void TestSigning::keyEncoding()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const std::string encoded = Url::encode(key.toStdString(), true);
    QCOMPARE(QString::fromStdString(encoded), expected);
    QCOMPARE(QString::fromStdString(Url::decode(encoded)), key);
}

void TestSigning::endpoint_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("httpsByDefault");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("isIp");

    QTest::newRow("IP with scheme and port") << "http://127.0.0.1:9000" << false << "http"
                                             << "127.0.0.1"
                                             << "9000" << true;
    QTest::newRow("name without scheme") << "oss-cn-hangzhou.aliyuncs.com" << false << "http"
                                         << "oss-cn-hangzhou.aliyuncs.com"
                                         << "" << false;
    QTest::newRow("scheme from the configuration") << "oss-cn-hangzhou.aliyuncs.com" << true << "https"
                                                   << "oss-cn-hangzhou.aliyuncs.com"
                                                   << "" << false;
    QTest::newRow("own scheme wins, trailing slash dropped") << "HTTPS://example.com/" << false << "https"
                                                             << "example.com"
                                                             << "" << false;
    QTest::newRow("bracketed IPv6") << "http://[::1]:8080" << false << "http"
                                    << "[::1]"
                                    << "8080" << true;
    QTest::newRow("IP without scheme") << " 10.0.0.1:80 " << false << "http"
                                       << "10.0.0.1"
                                       << "80" << true;
}

void TestSigning::endpoint()
{
    QFETCH(QString, endpoint);
    QFETCH(bool, httpsByDefault);
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, isIp);

    const Url::Endpoint e = Url::parseEndpoint(endpoint.toStdString(), httpsByDefault ? Http::HTTPS : Http::HTTP);
    QCOMPARE(QString::fromStdString(e.scheme), scheme);
    QCOMPARE(QString::fromStdString(e.host), host);
    QCOMPARE(QString::fromStdString(e.port), port);
    QCOMPARE(e.isIp, isIp);
}

void TestSigning::crc64_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint64>("expected");

    QTest::newRow("empty") << QByteArray() << quint64(0);
    QTest::newRow("check value") << QByteArray("123456789") << quint64(0x995DC9BBDF1939FAULL);
    // Same value as the emulator's independent implementation gives.
    QTest::newRow("hello world") << QByteArray("hello world") << quint64(5981764153023615706ULL);
}

void TestSigning::crc64()
{
    QFETCH(QByteArray, data);
    QFETCH(quint64, expected);

    Crc64 whole;
    whole.update(data.constData(), static_cast<size_t>(data.size()));
    QCOMPARE(quint64(whole.value()), expected);

    // Fed in uneven pieces, and continued from an earlier value.
    Crc64 head;
    const int cut = data.size() / 3;
    head.update(data.constData(), static_cast<size_t>(cut));
    Crc64 tail(head.value());
    tail.update(data.constData() + cut, static_cast<size_t>(data.size() - cut));
    QCOMPARE(quint64(tail.value()), expected);
}

void TestSigning::dateIsRfc1123InGmt()
{
    QCOMPARE(HttpDate::format(1748419200), std::string(kDate));
    QCOMPARE(HttpDate::parseIso8601("2025-05-28T08:00:00.000Z"), std::time_t(1748419200));
    QCOMPARE(HttpDate::parseIso8601("garbage"), std::time_t(-1));
}

QTEST_APPLESS_MAIN(TestSigning)
#include "tst_Signing.moc"
