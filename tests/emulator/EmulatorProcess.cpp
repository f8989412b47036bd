#include "EmulatorProcess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kCommandTimeoutMs = 30000;

} // namespace

EmulatorProcess::EmulatorProcess()
    : EmulatorProcess(Options())
{
}

EmulatorProcess::EmulatorProcess(const Options& options)
    : options_(options)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

EmulatorProcess::~EmulatorProcess()
{
    stop();
}

bool EmulatorProcess::start()
{
    QStringList arguments{QStringLiteral(OSS_EMULATOR_SCRIPT), QStringLiteral("--lifetime"),
                          QString::number(options_.lifetimeSeconds), QStringLiteral("--key"),
                          options_.accessKeyId + QLatin1Char(':') + options_.accessKeySecret};
    for (const QString& bucket : options_.buckets)
        arguments << QStringLiteral("--bucket") << bucket;
    if (options_.nativeCrc64)
        arguments << QStringLiteral("--crc64-library") << QStringLiteral(OSS_EMULATOR_CRC64_LIBRARY);
    if (!options_.tlsCertificate.isEmpty())
        arguments << QStringLiteral("--tls-cert") << options_.tlsCertificate << QStringLiteral("--tls-key")
                  << options_.tlsKey;
    if (options_.verbose)
        arguments << QStringLiteral("--verbose");

    process_.start(QStringLiteral(OSS_EMULATOR_PYTHON), arguments);
    if (!process_.waitForStarted(kStartTimeoutMs)) {
        error_ = process_.errorString();
        return false;
    }
    QByteArray line;
    if (!readLine(line, kStartTimeoutMs)) {
        error_ = QStringLiteral("the emulator did not report its port");
        stop();
        return false;
    }
    port_ = static_cast<quint16>(QJsonDocument::fromJson(line).object().value(QStringLiteral("port")).toInt());
    if (port_ == 0) {
        error_ = QStringLiteral("unexpected first line: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    return true;
}

void EmulatorProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    // Closing its control channel makes the emulator quit.
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool EmulatorProcess::isRunning() const
{
    return process_.state() == QProcess::Running;
}

QString EmulatorProcess::endpoint() const
{
    const QString scheme = options_.tlsCertificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port_);
}

bool EmulatorProcess::readLine(QByteArray& line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!process_.canReadLine()) {
        if (process_.state() != QProcess::Running || deadline.hasExpired())
            return false;
        process_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    line = process_.readLine().trimmed();
    return true;
}

QJsonObject EmulatorProcess::command(const QJsonObject& command)
{
    if (!isRunning())
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("not running")}};
    process_.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    process_.waitForBytesWritten(kCommandTimeoutMs);
    QByteArray line;
    if (!readLine(line, kCommandTimeoutMs))
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("no answer")}};
    return QJsonDocument::fromJson(line).object();
}

bool EmulatorProcess::addFault(const QJsonObject& fault)
{
    QJsonObject c = fault;
    c.insert(QStringLiteral("cmd"), QStringLiteral("fault"));
    return command(c).value(QStringLiteral("ok")).toBool();
}

bool EmulatorProcess::clearFaults()
{
    return command({{QStringLiteral("cmd"), QStringLiteral("clear-faults")}}).value(QStringLiteral("ok")).toBool();
}

QJsonArray EmulatorProcess::requestLog()
{
    return command({{QStringLiteral("cmd"), QStringLiteral("log")}}).value(QStringLiteral("log")).toArray();
}

bool EmulatorProcess::clearLog()
{
    return command({{QStringLiteral("cmd"), QStringLiteral("clear-log")}}).value(QStringLiteral("ok")).toBool();
}

bool EmulatorProcess::configure(const QJsonObject& settings)
{
    QJsonObject c = settings;
    c.insert(QStringLiteral("cmd"), QStringLiteral("config"));
    return command(c).value(QStringLiteral("ok")).toBool();
}

bool EmulatorProcess::createBucket(const QString& bucket)
{
    return command({{QStringLiteral("cmd"), QStringLiteral("bucket")}, {QStringLiteral("name"), bucket}})
        .value(QStringLiteral("ok"))
        .toBool();
}

bool EmulatorProcess::putObject(const QString& bucket, const QString& key, const QByteArray& data)
{
    return command({{QStringLiteral("cmd"), QStringLiteral("put")},
                    {QStringLiteral("bucket"), bucket},
                    {QStringLiteral("key"), key},
                    {QStringLiteral("data"), QString::fromLatin1(data.toBase64())}})
        .value(QStringLiteral("ok"))
        .toBool();
}

std::optional<QByteArray> EmulatorProcess::object(const QString& bucket, const QString& key)
{
    const QJsonValue data = command({{QStringLiteral("cmd"), QStringLiteral("get")},
                                     {QStringLiteral("bucket"), bucket},
                                     {QStringLiteral("key"), key}})
                                .value(QStringLiteral("data"));
    if (!data.isString())
        return std::nullopt;
    return QByteArray::fromBase64(data.toString().toLatin1());
}

QJsonArray EmulatorProcess::openUploads()
{
    return command({{QStringLiteral("cmd"), QStringLiteral("uploads")}}).value(QStringLiteral("uploads")).toArray();
}
