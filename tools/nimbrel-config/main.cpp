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

// All but the last four characters hidden; short secrets entirely.
QString masked(const QString& secret)
{
    const int shown = secret.size() > 8 ? 4 : 0;
    return QString(secret.size() - shown, QChar('*')) + secret.right(shown);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("nimbrel-config");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes or reads libNimbrel's encrypted login configuration.\n"
        "  nimbrel-config write FILE --host HOST --bucket BUCKET --access-id ID --access-secret SECRET\n"
        "  nimbrel-config read FILE");
    parser.addHelpOption();
    parser.addPositionalArgument("command", "write or read");
    parser.addPositionalArgument("file", "the configuration file");
    const QCommandLineOption hostOption("host", "Storage endpoint, e.g. oss-cn-hangzhou.aliyuncs.com.", "host");
    const QCommandLineOption bucketOption("bucket", "Bucket name.", "bucket");
    const QCommandLineOption idOption("access-id", "Access key id.", "id");
    const QCommandLineOption secretOption("access-secret", "Access key secret.", "secret");
    parser.addOptions({hostOption, bucketOption, idOption, secretOption});

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

    if (command == "write") {
        OssLoginInfo info;
        const QList<QPair<QCommandLineOption, std::string*>> fields = {{hostOption, &info.host},
                                                                       {bucketOption, &info.bucket},
                                                                       {idOption, &info.accessId},
                                                                       {secretOption, &info.accessSecret}};
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
        if (!LoginConfigFile::write(path, info, error)) {
            err() << "nimbrel-config: " << error << "\n";
            return FileFailure;
        }
        return Success;
    }

    if (command == "read") {
        if (parser.isSet(hostOption) || parser.isSet(bucketOption) || parser.isSet(idOption)
            || parser.isSet(secretOption))
            return usageError(parser, "read takes no account options");
        OssLoginInfo info;
        QString error;
        if (!LoginConfigFile::read(path, info, error)) {
            err() << "nimbrel-config: " << error << "\n";
            return FileFailure;
        }
        QTextStream out(stdout);
        out << "host=" << QString::fromStdString(info.host) << "\n"
            << "bucket=" << QString::fromStdString(info.bucket) << "\n"
            << "accessId=" << QString::fromStdString(info.accessId) << "\n"
            << "accessSecret=" << masked(QString::fromStdString(info.accessSecret)) << "\n";
        return Success;
    }

    return usageError(parser, QString("unknown command \"%1\"").arg(command));
}
