#pragma once

#include <QByteArray>
#include <QString>

// A sequence of requests signed here, independently of the client layer,
// that one curl process sends one after the other over one connection: the
// baseline of the storage benchmarks.
class CurlSequence
{
public:
    CurlSequence(const QString& endpoint, const QString& bucket, const QString& accessId, const QString& accessSecret);

    // `subresource` is the signed query ("uploads", "partNumber=3&uploadId=…"), or empty.
    void get(const QString& key, const QString& outputFile);
    void list(const QString& prefix, const QString& outputFile);
    void put(const QString& key, const QString& subresource, const QString& file);
    void post(const QString& key, const QString& subresource, const QString& bodyFile, const QString& outputFile);

    // Writes the sequence into a curl configuration file first, so that the
    // curl process does nothing but send.
    bool writeConfig(const QString& path) const;
    // Runs curl on a written configuration; true when every request succeeded.
    static bool run(const QString& configPath);

private:
    void add(const QString& verb, const QString& key, const QString& subresource, const QString& contentType,
             const QByteArray& options);

    QString endpoint_;
    QString bucket_;
    QString accessId_;
    QByteArray accessSecret_;
    QByteArray config_;
};
