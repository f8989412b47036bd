#include "StorageSandbox.h"

#include "EmulatorProcess.h"
#include "TestConfig.h"

#include <QJsonObject>

namespace {

// How a fault names each kind of request the workers send.
QJsonObject matcherFor(const QString& operation, const std::string& key)
{
    if (operation == "GetObject" && !key.empty())
        return {{"method", "GET"}, {"key", QString::fromStdString(key)}};
    if (operation == "ListObjects")
        return {{"method", "GET"}, {"key", ""}};
    if (operation == "PutObject")
        return {{"method", "PUT"}};
    if (operation == "UploadPart")
        return {{"method", "PUT"}, {"query", "partNumber="}};
    if (operation == "InitiateMultipartUpload")
        return {{"method", "POST"}, {"query", "uploads"}};
    if (operation == "CompleteMultipartUpload")
        return {{"method", "POST"}, {"query", "uploadId="}};
    if (operation == "DeleteObjects")
        return {{"method", "POST"}, {"query", "delete"}};
    qFatal("no matcher for %s", qPrintable(operation));
}

QString operationOf(const QString& method, const QString& key, const QUrlQuery& query)
{
    if (method == "GET")
        return key.isEmpty() ? "ListObjects" : "GetObject";
    if (method == "PUT")
        return query.hasQueryItem("partNumber") ? "UploadPart" : "PutObject";
    if (method == "POST") {
        if (query.hasQueryItem("uploads"))
            return "InitiateMultipartUpload";
        if (query.hasQueryItem("uploadId"))
            return "CompleteMultipartUpload";
        if (query.hasQueryItem("delete"))
            return "DeleteObjects";
    }
    if (method == "DELETE")
        return "AbortMultipartUpload";
    return method;
}

} // namespace

StorageSandbox::StorageSandbox(bool nativeCrc64)
    : nativeCrc64(nativeCrc64)
{
}

StorageSandbox::~StorageSandbox() = default;

bool StorageSandbox::start()
{
    if (!folder.isValid())
        return false;
    EmulatorProcess::Options options;
    options.buckets = {bucket()};
    options.accessKeyId = accessId();
    options.accessKeySecret = accessSecret();
    options.nativeCrc64 = nativeCrc64;
    emulator = std::make_unique<EmulatorProcess>(options);
    if (!emulator->start()) {
        qWarning("emulator: %s", qPrintable(emulator->errorString()));
        return false;
    }
    config = TestConfig::writeConfig(filePath("account.cfg"), endpoint(), bucket(), accessId(), accessSecret());
    return !config.isEmpty();
}

QString StorageSandbox::endpoint() const
{
    return emulator->endpoint();
}

bool StorageSandbox::putObject(const std::string& key, const QByteArray& data)
{
    return emulator->putObject(bucket(), QString::fromStdString(key), data);
}

std::optional<QByteArray> StorageSandbox::object(const std::string& key)
{
    return emulator->object(bucket(), QString::fromStdString(key));
}

void StorageSandbox::failNext(const QString& operation, int status, const QString& code, const QString& message,
                              int skip)
{
    // Faults are taken in the order they were added; a fault without an
    // action lets its requests through.
    if (skip > 0) {
        QJsonObject pass = matcherFor(operation, std::string());
        pass["count"] = skip;
        emulator->addFault(pass);
    }
    QJsonObject fault = matcherFor(operation, std::string());
    fault["status"] = status;
    fault["code"] = code;
    fault["message"] = message;
    emulator->addFault(fault);
}

void StorageSandbox::delayAll(const QString& operation, int milliseconds, const std::string& key)
{
    QJsonObject fault = matcherFor(operation, key);
    fault["count"] = -1;
    fault["delay"] = milliseconds / 1000.0;
    emulator->addFault(fault);
}

void StorageSandbox::stallDownload(const std::string& key, int bytes, int seconds)
{
    emulator->addFault(
        {{"method", "GET"}, {"key", QString::fromStdString(key)}, {"stall_after", bytes}, {"stall", seconds}});
}

void StorageSandbox::corruptDownload(const std::string& key, int offset)
{
    emulator->addFault({{"method", "GET"}, {"key", QString::fromStdString(key)}, {"corrupt_at", offset}});
}

void StorageSandbox::setPageLimit(int maxKeys)
{
    emulator->configure({{"page_limit", maxKeys > 0 ? maxKeys : 1000}});
}

void StorageSandbox::clearFaults()
{
    emulator->clearFaults();
}

void StorageSandbox::reset()
{
    clearFaults();
    clearRequests();
}

QList<RecordedRequest> StorageSandbox::requests() const
{
    QList<RecordedRequest> recorded;
    for (const QJsonValue& value : emulator->requestLog()) {
        const QJsonObject entry = value.toObject();
        RecordedRequest request;
        request.method = entry.value("method").toString();
        request.key = entry.value("key").toString();
        request.query = QUrlQuery(entry.value("rawQuery").toString());
        request.operation = operationOf(request.method, request.key, request.query);
        recorded << request;
    }
    return recorded;
}

QList<RecordedRequest> StorageSandbox::requests(const QString& operation, const std::string& key) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest& request : requests()) {
        if (request.operation == operation && (key.empty() || request.key == QString::fromStdString(key)))
            matching << request;
    }
    return matching;
}

void StorageSandbox::clearRequests()
{
    emulator->clearLog();
}
