#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

// Starts the storage emulator (oss_emulator.py) on a free loopback port and
// drives it over its control channel: faults per request, configuration,
// objects, and the log of the requests it received. Use it from the thread
// that created it; the destructor stops the emulator.
class EmulatorProcess
{
public:
    struct Options
    {
        QStringList buckets{QStringLiteral("examplebucket")};
        QString accessKeyId = QStringLiteral("EXAMPLEKEYID0001");
        QString accessKeySecret = QStringLiteral("ExampleSecret0123456789abcdefEXAMPLE");
        // The emulator quits on its own after this long, even if never stopped.
        int lifetimeSeconds = 900;
        // Native CRC-64 for large bodies (benchmarks); tests keep the emulator's own.
        bool nativeCrc64 = false;
        // PEM files: serve HTTPS instead of HTTP.
        QString tlsCertificate;
        QString tlsKey;
        bool verbose = false;
    };

    EmulatorProcess();
    explicit EmulatorProcess(const Options& options);
    ~EmulatorProcess();

    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool start();
    void stop();
    bool isRunning() const;
    QString errorString() const { return error_; }

    quint16 port() const { return port_; }
    // "http(s)://127.0.0.1:<port>": an IP endpoint, so clients use path style.
    QString endpoint() const;
    const Options& options() const { return options_; }

    // A fault for the next matching requests. Matchers: "method", "bucket",
    // "key", "query" (a substring of the raw query), "count" (default 1, -1 for
    // every request). Actions: see oss_emulator.py, e.g.
    // {{"key", "a.txt"}, {"status", 503}, {"code", "ServiceUnavailable"}}.
    bool addFault(const QJsonObject& fault);
    bool clearFaults();
    // Each entry: method, path, rawQuery, query, bucket, key, style, peerPort, headers,
    // bodyLength, status, errorCode, requestId, fault.
    QJsonArray requestLog();
    bool clearLog();
    // "clock_offset" (seconds), "page_limit", "min_part_size".
    bool configure(const QJsonObject& settings);
    bool createBucket(const QString& bucket);
    bool putObject(const QString& bucket, const QString& key, const QByteArray& data);
    // The stored bytes, or nothing when the object does not exist.
    std::optional<QByteArray> object(const QString& bucket, const QString& key);
    // Open multipart uploads: uploadId, bucket, key, parts.
    QJsonArray openUploads();

    QJsonObject command(const QJsonObject& command);

private:
    bool readLine(QByteArray& line, int timeoutMs);

    Options options_;
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};
