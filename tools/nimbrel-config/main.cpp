#include "LoginConfigFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitStatus { Success = 0, FileFailure = 1, UsageFailure = 2 };

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QCommandLineParser& parser, const QString& message)
{
    err() << "nimbrel-config: " << message << "\n\n" << parser.helpText();
    err().flush();
    return UsageFailure;
}

int fileError(const QString& error)
{
    err() << "nimbrel-config: " << error << "\n";
    return FileFailure;
}

// All but the last four characters hidden; short secrets entirely.
QString masked(const QString& secret)
{
    const int shown = secret.size() > 8 ? 4 : 0;
    return QString(secret.size() - shown, QChar('*')) + secret.right(shown);
}

struct AccountOptions
{
    QCommandLineOption host{"host", "Storage endpoint, e.g. oss-cn-hangzhou.aliyuncs.com.", "host"};
    QCommandLineOption bucket{"bucket", "Bucket name.", "bucket"};
    QCommandLineOption accessId{"access-id", "Access key id.", "id"};
    QCommandLineOption accessSecret{"access-secret", "Access key secret.", "secret"};

    bool anySet(const QCommandLineParser& parser) const
    {
        return parser.isSet(host) || parser.isSet(bucket) || parser.isSet(accessId) || parser.isSet(accessSecret);
    }
};

void describe(QCommandLineParser& parser, const AccountOptions& account)
{
    parser.setApplicationDescription(
        "Writes or reads libNimbrel's encrypted login configuration.\n"
        "  nimbrel-config write FILE --host HOST --bucket BUCKET --access-id ID --access-secret SECRET\n"
        "  nimbrel-config read FILE");
    parser.addHelpOption();
    parser.addPositionalArgument("command", "write or read");
    parser.addPositionalArgument("file", "the configuration file");
    parser.addOptions({account.host, account.bucket, account.accessId, account.accessSecret});
}

int writeConfig(const QCommandLineParser& parser, const AccountOptions& account, const QString& path)
{
    OssLoginInfo info;
    const QList<QPair<QCommandLineOption, std::string*>> fields = {{account.host, &info.host},
                                                                   {account.bucket, &info.bucket},
                                                                   {account.accessId, &info.accessId},
                                                                   {account.accessSecret, &info.accessSecret}};
    for (const auto& [option, field] : fields) {
        const QString name = option.names().constFirst();
        const QString value = parser.value(option);
        if (value.isEmpty())
            return usageError(parser, QString("--%1 is missing or empty").arg(name));
        // A line break would split the line the library reads the value from.
        if (value.contains('\n') || value.contains('\r') || value.contains(QChar(0)))
            return usageError(parser, QString("--%1 must not hold a line break").arg(name));
        *field = value.toStdString();
    }
    QString error;
    if (!LoginConfigFile::write(path, info, error))
        return fileError(error);
    return Success;
}

int readConfig(const QCommandLineParser& parser, const AccountOptions& account, const QString& path)
{
    if (account.anySet(parser))
        return usageError(parser, "read takes no account options");
    OssLoginInfo info;
    QString error;
    if (!LoginConfigFile::read(path, info, error))
        return fileError(error);
    QTextStream out(stdout);
    out << "host=" << QString::fromStdString(info.host) << "\n"
        << "bucket=" << QString::fromStdString(info.bucket) << "\n"
        << "accessId=" << QString::fromStdString(info.accessId) << "\n"
        << "accessSecret=" << masked(QString::fromStdString(info.accessSecret)) << "\n";
    return Success;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("nimbrel-config");

    QCommandLineParser parser;
    const AccountOptions account;
    describe(parser, account);

    if (!parser.parse(app.arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Success;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usageError(parser, "expected a command and one file");
    const QString command = positional.at(0);
    const QString path = positional.at(1);
    if (path.isEmpty())
        return usageError(parser, "the file name is empty");

    if (command == "write")
        return writeConfig(parser, account, path);
    if (command == "read")
        return readConfig(parser, account, path);
    return usageError(parser, QString("unknown command \"%1\"").arg(command));
}
