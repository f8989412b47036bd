#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <memory>
#include <optional>
#include <string>

class EmulatorProcess;

// One request the emulator received.
struct RecordedRequest
{
    QString method;
    QString operation; // "ListObjects", "GetObject", "PutObject", "InitiateMultipartUpload", ...
    QString key; // decoded object key, empty for bucket-level requests
    QUrlQuery query; // decoded query parameters
};

// A temporary folder, the storage emulator on a loopback port and a valid
// configuration file for its account, for the storage worker tests.
class StorageSandbox
{
public:
    // Benchmarks ask for the emulator's native CRC-64 on large bodies.
    explicit StorageSandbox(bool nativeCrc64 = false);
    ~StorageSandbox();

    bool start();

    QString filePath(const QString& name) const { return folder.filePath(name); }
    QString endpoint() const;
    QString configPath() const { return config; }
    static QString bucket() { return QStringLiteral("nimbrel-test"); }
    static QString accessId() { return QStringLiteral("NIMBRELTESTKEY01"); }
    static QString accessSecret() { return QStringLiteral("NimbrelTestSecret0123456789abcdef"); }

    // Objects, through the emulator's control channel (no request is logged).
    bool putObject(const std::string& key, const QByteArray& data);
    std::optional<QByteArray> object(const std::string& key);

    // Faults for the next requests of one kind ("ListObjects", "PutObject",
    // "UploadPart", "InitiateMultipartUpload", "CompleteMultipartUpload",
    // "DeleteObjects"): skip the first `skip` of them, then answer one with the error.
    void failNext(const QString& operation, int status, const QString& code, const QString& message, int skip = 0);
    // Every request of that kind (for "GetObject": the fetches of `key`)
    // waits this long before its answer.
    void delayAll(const QString& operation, int milliseconds, const std::string& key = std::string());
    // The fetch of `key` sends `bytes` of the body, then stays silent for `seconds`.
    void stallDownload(const std::string& key, int bytes, int seconds);
    // The fetch of `key` sends the body with the byte at `offset` inverted.
    void corruptDownload(const std::string& key, int offset);
    // Entries per listing page; 0 for the service's default.
    void setPageLimit(int maxKeys);
    void clearFaults();
    // Between test functions: no fault left and no request recorded.
    void reset();

    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QString& operation, const std::string& key = std::string()) const;
    void clearRequests();

private:
    QTemporaryDir folder;
    QString config;
    bool nativeCrc64;
    std::unique_ptr<EmulatorProcess> emulator;
};
