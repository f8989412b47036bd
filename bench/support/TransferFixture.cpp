#include "TransferFixture.h"

#include "CurlSequence.h"

#include "Crc64.h"

#include <alibabacloud/oss/OssClient.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstring>
#include <random>

using AlibabaCloud::OSS::Crc64;

namespace {

QString partPath(const TransferFixture& fixture, int number)
{
    return fixture.filePath(QStringLiteral("parts/%1").arg(number));
}

// The server's ETag for what it stores: its CRC-64 in hexadecimal.
std::string eTagOf(uint64_t crc64)
{
    return QStringLiteral("\"%1\"").arg(crc64, 16, 16, QLatin1Char('0')).toUpper().toStdString();
}

} // namespace

bool TransferFixture::setUp(qint64 size)
{
    size_ = size;
    if (!folder_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    if (!writeSource()) {
        error_ = QStringLiteral("the source file could not be written");
        return false;
    }
    if (!server_.start(sourcePath())) {
        error_ = server_.errorString();
        return false;
    }
    return true;
}

bool TransferFixture::writeSource()
{
    QFile source(sourcePath());
    if (!source.open(QIODevice::WriteOnly) || !QDir().mkpath(filePath(QStringLiteral("parts"))))
        return false;
    std::mt19937_64 random(42);
    QByteArray part(kPartSize, Qt::Uninitialized);
    Crc64 whole;
    for (qint64 offset = 0; offset < size_; offset += kPartSize) {
        for (qint64 i = 0; i < kPartSize; i += 8) {
            const uint64_t word = random();
            std::memcpy(part.data() + i, &word, sizeof word);
        }
        const qint64 length = qMin(kPartSize, size_ - offset);
        Crc64 crc;
        crc.update(part.constData(), static_cast<size_t>(length));
        partCrcs_.push_back(crc.value());
        whole.update(part.constData(), static_cast<size_t>(length));
        QFile partFile(partPath(*this, partCount()));
        if (source.write(part.constData(), length) != length || !partFile.open(QIODevice::WriteOnly)
            || partFile.write(part.constData(), length) != length)
            return false;
    }
    sourceCrc_ = whole.value();
    return source.flush();
}

QString TransferFixture::curlUpload(const QString& key)
{
    CurlSequence curl(endpoint(), bucket(), accessId(), accessSecret());
    curl.put(key, QString(), sourcePath());
    const QString config = filePath(QStringLiteral("upload.curl"));
    return curl.writeConfig(config) ? config : QString();
}

QString TransferFixture::curlDownload(const QString& key, const QString& target)
{
    // Into a new file each round, as the client's download.
    QFile::remove(target);
    CurlSequence curl(endpoint(), bucket(), accessId(), accessSecret());
    curl.get(key, target);
    const QString config = filePath(QStringLiteral("download.curl"));
    return curl.writeConfig(config) ? config : QString();
}

QString TransferFixture::curlUploadInParts(const QString& key)
{
    const QString empty = filePath(QStringLiteral("empty"));
    const QString initiated = filePath(QStringLiteral("initiated.xml"));
    const QString initiation = filePath(QStringLiteral("initiation.curl"));
    CurlSequence initiate(endpoint(), bucket(), accessId(), accessSecret());
    initiate.post(key, QStringLiteral("uploads"), empty, initiated);
    QFile emptyFile(empty);
    QFile answer(initiated);
    if (!emptyFile.open(QIODevice::WriteOnly) || !initiate.writeConfig(initiation) || !CurlSequence::run(initiation)
        || !answer.open(QIODevice::ReadOnly))
        return QString();
    const QString uploadId = QRegularExpression(QStringLiteral("<UploadId>([^<]+)</UploadId>"))
                                 .match(QString::fromUtf8(answer.readAll()))
                                 .captured(1);
    if (uploadId.isEmpty())
        return QString();

    CurlSequence parts(endpoint(), bucket(), accessId(), accessSecret());
    QByteArray completion = "<CompleteMultipartUpload>";
    for (int number = 1; number <= partCount(); ++number) {
        parts.put(key, QStringLiteral("partNumber=%1&uploadId=%2").arg(number).arg(uploadId), partPath(*this, number));
        completion += "<Part><PartNumber>" + QByteArray::number(number) + "</PartNumber><ETag>"
                      + QByteArray::fromStdString(eTagOf(partCrcs_[size_t(number - 1)])) + "</ETag></Part>";
    }
    completion += "</CompleteMultipartUpload>";
    const QString completionBody = filePath(QStringLiteral("completion.xml"));
    QFile completionFile(completionBody);
    if (!completionFile.open(QIODevice::WriteOnly) || completionFile.write(completion) != completion.size())
        return QString();
    parts.post(key, "uploadId=" + uploadId, completionBody, filePath(QStringLiteral("completed.xml")));
    const QString config = filePath(QStringLiteral("parts.curl"));
    return parts.writeConfig(config) ? config : QString();
}

QString TransferFixture::curlListing(const QString& prefix)
{
    CurlSequence curl(endpoint(), bucket(), accessId(), accessSecret());
    curl.list(prefix, QStringLiteral("/dev/null"));
    const QString config = filePath(QStringLiteral("listing.curl"));
    return curl.writeConfig(config) ? config : QString();
}

bool TransferFixture::holdsSource(const QString& key)
{
    using namespace AlibabaCloud::OSS;
    OssClient client(endpoint().toStdString(), accessId().toStdString(), accessSecret().toStdString(),
                     ClientConfiguration());
    ListObjectsRequest request(bucket().toStdString());
    request.setPrefix(key.toStdString());
    const auto outcome = client.ListObjects(request);
    if (!outcome.isSuccess())
        return false;
    for (const ObjectSummary& summary : outcome.result().ObjectSummarys()) {
        if (summary.Key() == key.toStdString())
            return summary.Size() == size_ && summary.ETag() == eTagOf(sourceCrc_);
    }
    return false;
}

bool TransferFixture::isSourceCopy(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size_)
        return false;
    Crc64 crc;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 n; (n = file.read(block.data(), block.size())) > 0;)
        crc.update(block.constData(), static_cast<size_t>(n));
    return crc.value() == sourceCrc_;
}
