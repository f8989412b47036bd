#include "OssServerStatus.h"

#include "QuilmLog.h"
#include "StorageSession_p.h"

#include <QDateTime>
#include <QMetaObject>
#include <QProcess>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

namespace {

const quint64 defaultTimeoutMilliseconds = 3000;

const ConfigFailureTexts configFailureTexts{
    {"[ OssServerStatus ] Run configFileName is empty......", std::string()},
    {"[ OssServerStatus ] Run AesDecode fail......", std::string()},
    {"[ OssServerStatus ] Run ParseOssLoginInfo fail......", std::string()},
};

// The endpoint without its scheme and trailing slashes.
QString pingHostText(const std::string& endpoint)
{
    QString host = QString::fromUtf8(endpoint.c_str());
    host.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        host = host.mid(colon + 3);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return host;
}

quint64 nowMilliseconds()
{
    return static_cast<quint64>(QDateTime::currentDateTime().toMSecsSinceEpoch());
}

} // namespace

OssServerStatus::OssServerStatus()
    : QThread(nullptr)
    , job(*this)
{
    StorageJob::registerCode<OssErrorCode>("OssServerStatus::OssErrorCode");
    pingProcess = new QProcess();
    pingProcess->moveToThread(this);
}

OssServerStatus::~OssServerStatus()
{
    job.stopAndAwaitEnd();
    // The worker thread has ended and its ping with it; a deferred deletion
    // would wait for an event loop of that thread that never runs again.
    delete pingProcess;
}

void OssServerStatus::setConfigFileName(const std::string& configFileName, int timeoutMilliseconds)
{
    QLOG_ERROR() << "[ OssServerStatus ] setConfigFileName configFileName = " << configFileName.c_str();
    QLOG_ERROR() << "[ OssServerStatus ] setConfigFileName timeoutMilliseconds = " << timeoutMilliseconds;
    if (!configFileName.empty())
        this->configFileName = configFileName;
    this->timeoutMilliseconds =
        timeoutMilliseconds > 0 ? static_cast<quint64>(timeoutMilliseconds) : defaultTimeoutMilliseconds;
}

bool OssServerStatus::startDetect()
{
    QLOG_INFO() << "[ OssServerStatus ] startDetect called.";
    // A refused start leaves the stop request of a running job as it is.
    if (configFileName.empty()) {
        QLOG_ERROR() << "[ OssServerStatus ] configFileName or timeoutMilliseconds is invalid";
        return false;
    }
    if (job.isBusy()) {
        QLOG_ERROR() << "[ OssServerStatus ] detect thread is running......";
        return false;
    }
    job.start();
    QLOG_INFO() << "[ OssServerStatus ] thread start run";
    return true;
}

bool OssServerStatus::stopDetect()
{
    QLOG_INFO() << "[ OssServerStatus ] stopDetect called.";
    // The ping process is the job's until the job has ended.
    const bool ended = job.stop();
    if (ended && pingProcess->state() != QProcess::NotRunning)
        pingProcess->terminate();
    return true;
}

bool OssServerStatus::isHostConnected(const QString& host)
{
    // A leading "-" would be read by ping as an option.
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')))
        return false;
    // One echo request; iputils ping takes its reply wait in seconds.
    pingProcess->start(QStringLiteral("ping"),
                       {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("0.5"), host},
                       QIODevice::ReadWrite);
    pingProcess->waitForReadyRead(1000);
    pingProcess->waitForFinished(30000);
    const QString output = QString::fromLocal8Bit(pingProcess->readAll());
    if (pingProcess->state() != QProcess::NotRunning) {
        // Reaped here, on its own thread, so the next pass can start again.
        pingProcess->kill();
        pingProcess->waitForFinished();
    }
    return output.contains(QLatin1String("TTL="), Qt::CaseInsensitive);
}

void OssServerStatus::run()
{
    job.beginJob();
    // The job only logs its configuration failures.
    StorageSession session;
    if (!session.readConfig(configFileName, configFailureTexts,
                            [](StorageSession::ConfigResult, const std::string&) {}))
        return;
    if (job.isStopRequested())
        return;

    const QString hostText = pingHostText(session.account().host);
    quint64 lastAnswered = nowMilliseconds();
    while (!job.isStopRequested()) {
        if (isHostConnected(hostText)) {
            lastAnswered = nowMilliseconds();
            QThread::msleep(100);
            continue;
        }
        if (nowMilliseconds() - lastAnswered > timeoutMilliseconds) {
            job.emitLastUnlessStopped([this] { emit sigNetworkStatus(QStringLiteral("fail")); });
            return;
        }
    }
}

} // namespace Nimbrel
