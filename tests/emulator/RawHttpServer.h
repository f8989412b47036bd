#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <thread>

// A loopback server for answers that no correct storage service sends: the
// test writes every byte of each answer itself. Each request comes on a
// connection of its own (the answers say "Connection: close"), is read up to
// the end of its body, and the connection closes after the answer.
class RawHttpServer
{
public:
    // Sends bytes to the client at once; false once the client has gone.
    using Write = std::function<bool(const QByteArray& bytes)>;
    // Answers one request, given its request line and header lines.
    using Responder = std::function<void(const QByteArray& head, const Write& write)>;

    explicit RawHttpServer(Responder responder);
    ~RawHttpServer();

    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    bool start();
    // "http://127.0.0.1:<port>"
    QString endpoint() const;
    // The heads of the requests answered so far.
    QList<QByteArray> heads() const;

    // The target of a request line ("/bucket/key?query").
    static QByteArray target(const QByteArray& head);
    // A whole answer with a Content-Length, closing the connection.
    static QByteArray answer(const QByteArray& status, const QList<QByteArray>& headers, const QByteArray& body);

private:
    void serve();
    void answerConnection(int connection);

    Responder responder_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    QList<QByteArray> heads_;
};
