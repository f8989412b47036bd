#pragma once

#include <QProcess>
#include <QString>

// The benchmark server (oss_loopback_server) as a child process on a free
// loopback port, serving the content file it was started with. Use it from
// the thread that created it; the destructor stops the server.
class LoopbackServer
{
public:
    LoopbackServer() = default;
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool start(const QString& contentFile);
    QString errorString() const { return error_; }

    // "http://127.0.0.1:<port>": an IP endpoint, so clients use path style.
    QString endpoint() const;
    // CPU seconds the server has used so far; negative when it did not answer.
    double cpuSeconds();

private:
    QString readLine();

    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};
