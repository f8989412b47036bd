#include "OssEntryPoints.h"

#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

static void addServerLog()
{
    const QString folder = QCoreApplication::applicationDirPath() + "/log";
    if (!QDir(folder).exists())
        QDir().mkdir(folder);
    // The date of this call names the file for the rest of the run.
    const QString date = QDateTime::currentDateTime().toString("yyyy-MM-dd");
    const QString path = folder + QString("/server%1.txt").arg(date);
    auto destination = QuilmLogging::DestinationFactory::MakeFileDestination(
        path, QuilmLogging::SizeBasedRotation, QuilmLogging::MaxSizeBytes(QuilmLogging::kDeliverableLogMaxSizeBytes),
        QuilmLogging::MaxOldLogCount(QuilmLogging::kDeliverableLogOldLogCount));
    logger.addDestination(destination);
}

bool OssInitialize(bool enableFileLog)
{
    AlibabaCloud::OSS::InitializeSdk();
    if (enableFileLog)
        addServerLog();
    QLOG_INFO() << "[ Nimbrel ] OssInitialize called......";
    return true;
}

bool OssUninitialize()
{
    AlibabaCloud::OSS::ShutdownSdk();
    QLOG_INFO() << "[ Nimbrel ] OssUninitialize called......";
    return true;
}
