#include "CurlSequence.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QUrl>

namespace {

QByteArray quoted(const QString& value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + text + '"';
}

} // namespace

CurlSequence::CurlSequence(const QString& endpoint, const QString& bucket, const QString& accessId,
                           const QString& accessSecret)
    : endpoint_(endpoint)
    , bucket_(bucket)
    , accessId_(accessId)
    , accessSecret_(accessSecret.toUtf8())
{
}

void CurlSequence::get(const QString& key, const QString& outputFile)
{
    add(QStringLiteral("GET"), key, QString(), QString(), "output = " + quoted(outputFile) + "\n");
}

void CurlSequence::list(const QString& prefix, const QString& outputFile)
{
    // The prefix is no signed subresource: it goes into the URL only.
    add(QStringLiteral("GET"), QString(), QString(), QString(),
        "url-query = " + quoted("prefix=" + QString::fromLatin1(QUrl::toPercentEncoding(prefix)))
            + "\noutput = " + quoted(outputFile) + "\n");
}

void CurlSequence::put(const QString& key, const QString& subresource, const QString& file)
{
    add(QStringLiteral("PUT"), key, subresource, QStringLiteral("application/octet-stream"),
        "upload-file = " + quoted(file) + "\noutput = \"/dev/null\"\n");
}

void CurlSequence::post(const QString& key, const QString& subresource, const QString& bodyFile,
                        const QString& outputFile)
{
    add(QStringLiteral("POST"), key, subresource, QStringLiteral("application/xml"),
        "data-binary = " + quoted("@" + bodyFile) + "\noutput = " + quoted(outputFile) + "\n");
}

void CurlSequence::add(const QString& verb, const QString& key, const QString& subresource, const QString& contentType,
                       const QByteArray& options)
{
    const QString date = QLocale::c().toString(QDateTime::currentDateTimeUtc(), "ddd, dd MMM yyyy hh:mm:ss 'GMT'");
    const QString query = subresource.isEmpty() ? QString() : "?" + subresource;
    const QString resource = "/" + bucket_ + "/" + key + query;
    const QByteArray toSign = (verb + "\n\n" + contentType + "\n" + date + "\n" + resource).toUtf8();
    const QByteArray signature =
        QMessageAuthenticationCode::hash(toSign, accessSecret_, QCryptographicHash::Sha1).toBase64();
    const QString url =
        endpoint_ + "/" + bucket_ + "/" + QString::fromLatin1(QUrl::toPercentEncoding(key, "/")) + query;

    if (!config_.isEmpty())
        config_ += "next\n";
    config_ += "url = " + quoted(url) + "\nrequest = " + verb.toLatin1() + "\n";
    config_ += "header = " + quoted("Date: " + date) + "\n";
    config_ += "header = " + quoted("Authorization: OSS " + accessId_ + ":" + QString::fromLatin1(signature)) + "\n";
    // An empty value keeps curl from adding a header of its own.
    config_ += "header = " + quoted("Content-Type:" + (contentType.isEmpty() ? QString() : " " + contentType))
               + "\nheader = \"Expect:\"\n";
    config_ += "silent\nshow-error\nfail\n" + options;
}

bool CurlSequence::writeConfig(const QString& path) const
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(config_) == config_.size();
}

bool CurlSequence::run(const QString& configPath)
{
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedChannels);
    curl.start(QStringLiteral("curl"), {QStringLiteral("--config"), configPath});
    return curl.waitForFinished(-1) && curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0;
}
