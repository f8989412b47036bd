// A small host of the library for the entry-point tests: it calls
// OssInitialize once per argument ("true" or "false"), logs one line,
// calls OssUninitialize and writes every queued line before it exits.
#include "OssEntryPoints.h"
#include "QuilmLog.h"

#include <QCoreApplication>
#include <QStringList>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    bool allTrue = true;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString& argument : arguments)
        allTrue = OssInitialize(argument == QLatin1String("true")) && allTrue;
    QLOG_INFO() << "[probe] host line";
    allTrue = OssUninitialize() && allTrue;
    QuilmLogging::Logger::destroyInstance();
    return allTrue ? 0 : 1;
}
