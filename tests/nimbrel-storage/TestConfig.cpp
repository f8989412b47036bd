#include "TestConfig.h"

#include <QFile>
#include <QProcess>

#include <sys/stat.h>

namespace TestConfig {

static QString runTool(const QStringList& arguments, const QString& path)
{
    QProcess tool;
    tool.start(QStringLiteral(NIMBREL_CONFIG_TOOL), arguments);
    if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        qWarning("nimbrel-config failed: %s", tool.readAllStandardError().constData());
        return QString();
    }
    return path;
}

QString writeConfig(const QString& path, const QString& host, const QString& bucket, const QString& accessId,
                    const QString& accessSecret)
{
    // "--name=value", so that a value beginning with "-" stays a value.
    return runTool({QStringLiteral("write"), path, "--host=" + host, "--bucket=" + bucket, "--access-id=" + accessId,
                    "--access-secret=" + accessSecret},
                   path);
}

QString writeUndecodable(const QString& path)
{
    return writeFile(path, QByteArray("host=h\nbucket=b\naccessId=i\n")) ? path : QString();
}

QString writeUnparsable(const QString& path)
{
    // Enciphered independently with the library's key; the text has no account lines.
    QByteArray plain("just some text\nwithout keys\n");
    plain.append(QByteArray(16 - plain.size() % 16, '\0'));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("enc"), QStringLiteral("-aes-128-ecb"), QStringLiteral("-nopad"),
                   QStringLiteral("-K"), QString::fromLatin1(QByteArray("Qe7Tovrin2Wy8Kas").toHex()),
                   QStringLiteral("-out"), path});
    openssl.write(plain);
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(10000) || openssl.exitCode() != 0)
        return QString();
    return path;
}

bool writeFaulty(const QString& path, const QString& kind)
{
    if (kind == "undecodable")
        return !writeUndecodable(path).isEmpty();
    if (kind == "unparsable")
        return !writeUnparsable(path).isEmpty();
    if (kind == "fifo")
        return (!QFile::exists(path) || QFile::remove(path)) && mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    return true;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace TestConfig
