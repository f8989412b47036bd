#include "LoopbackServer.h"

namespace {

constexpr int kAnswerTimeoutMs = 10000;

}

LoopbackServer::~LoopbackServer()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    // The server ends when its standard input closes.
    process_.closeWriteChannel();
    if (!process_.waitForFinished(kAnswerTimeoutMs)) {
        process_.kill();
        process_.waitForFinished();
    }
}

bool LoopbackServer::start(const QString& contentFile)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(OSS_LOOPBACK_SERVER), {contentFile});
    if (!process_.waitForStarted(kAnswerTimeoutMs)) {
        error_ = process_.errorString();
        return false;
    }
    bool ok = false;
    port_ = readLine().toUShort(&ok);
    if (!ok) {
        error_ = QStringLiteral("the server reported no port");
        return false;
    }
    return true;
}

QString LoopbackServer::endpoint() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

double LoopbackServer::cpuSeconds()
{
    process_.write("cpu\n");
    bool ok = false;
    const double seconds = readLine().toDouble(&ok);
    return ok ? seconds : -1;
}

QString LoopbackServer::readLine()
{
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(kAnswerTimeoutMs))
            return QString();
    }
    return QString::fromLatin1(process_.readLine()).trimmed();
}
