#pragma once

#include "LoopbackServer.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

// What the storage benchmarks run on: a file of random bytes, the loopback
// server holding it as its content, the same file cut into the parts of a
// multipart upload for curl, and the curl sequences of each transfer.
class TransferFixture
{
public:
    static constexpr qint64 kPartSize = 102400;

    static QString bucket() { return QStringLiteral("bench-bucket"); }
    static QString accessId() { return QStringLiteral("BENCHKEYID000001"); }
    static QString accessSecret() { return QStringLiteral("BenchSecret0123456789abcdefBENCH"); }

    bool setUp(qint64 size);
    QString errorString() const { return error_; }

    LoopbackServer& server() { return server_; }
    QString endpoint() const { return server_.endpoint(); }
    QString filePath(const QString& name) const { return folder_.filePath(name); }
    QString sourcePath() const { return filePath(QStringLiteral("source.bin")); }
    qint64 size() const { return size_; }
    int partCount() const { return static_cast<int>(partCrcs_.size()); }

    // Curl configurations, written before the round so that only curl's run
    // is timed. The upload in parts is initiated here, by a curl run of its own.
    QString curlUpload(const QString& key);
    QString curlDownload(const QString& key, const QString& target);
    QString curlUploadInParts(const QString& key);
    // One listing request: what starting curl costs, beside the transfers.
    QString curlListing(const QString& prefix);

    // Whether the server holds the key with the source's size and CRC-64.
    bool holdsSource(const QString& key);
    // Whether a downloaded file has the source's content.
    bool isSourceCopy(const QString& path) const;

private:
    bool writeSource();

    QTemporaryDir folder_;
    LoopbackServer server_;
    qint64 size_ = 0;
    uint64_t sourceCrc_ = 0;
    std::vector<uint64_t> partCrcs_;
    QString error_;
};
