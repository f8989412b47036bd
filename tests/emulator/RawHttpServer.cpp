#include "RawHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// How long a connection may stay silent before the server gives up on it.
constexpr int kReadTimeoutMs = 10000;

bool readSome(int connection, QByteArray& received)
{
    pollfd ready{connection, POLLIN, 0};
    if (::poll(&ready, 1, kReadTimeoutMs) <= 0)
        return false;
    char buffer[65536];
    const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    received.append(buffer, static_cast<int>(n));
    return true;
}

qsizetype contentLength(const QByteArray& head)
{
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            return line.mid(colon + 1).trimmed().toLongLong();
    }
    return 0;
}

} // namespace

RawHttpServer::RawHttpServer(Responder responder)
    : responder_(std::move(responder))
{
}

RawHttpServer::~RawHttpServer()
{
    if (listener_ >= 0) {
        // Wakes the accept of the server thread.
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
}

bool RawHttpServer::start()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0
        || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
    return true;
}

QString RawHttpServer::endpoint() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

QList<QByteArray> RawHttpServer::heads() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return heads_;
}

QByteArray RawHttpServer::target(const QByteArray& head)
{
    const QList<QByteArray> words = head.left(head.indexOf('\r')).split(' ');
    return words.size() >= 2 ? words.at(1) : QByteArray();
}

QByteArray RawHttpServer::answer(const QByteArray& status, const QList<QByteArray>& headers, const QByteArray& body)
{
    QByteArray bytes =
        "HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const QByteArray& header : headers)
        bytes += header + "\r\n";
    return bytes + "\r\n" + body;
}

void RawHttpServer::serve()
{
    for (;;) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        answerConnection(connection);
        ::close(connection);
    }
}

void RawHttpServer::answerConnection(int connection)
{
    QByteArray received;
    qsizetype headEnd = -1;
    while ((headEnd = received.indexOf("\r\n\r\n")) < 0) {
        if (!readSome(connection, received))
            return;
    }
    const QByteArray head = received.left(headEnd);
    while (received.size() < headEnd + 4 + contentLength(head)) {
        if (!readSome(connection, received))
            return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heads_.append(head);
    }
    responder_(head, [connection](const QByteArray& bytes) {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(connection, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    });
    // The client reads to the end before it closes its side.
    ::shutdown(connection, SHUT_WR);
    QByteArray rest;
    while (readSome(connection, rest))
        rest.clear();
}
