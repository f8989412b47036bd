// A loopback HTTP/1.1 server for the storage benchmarks. It answers the few
// requests they send (ListObjects of one name, GetObject, PutObject and the
// three steps of a multipart upload), checks no signature, and is quick
// enough that the client, not the server, sets the pace: downloads go out
// with sendfile, uploads are only run through a CRC-64.
//
//   oss_loopback_server CONTENT_FILE
//
// Prints its port on 127.0.0.1 as the first line; answers the line "cpu" on
// standard input with the CPU seconds it has used; ends when standard input
// closes.
#include "Connection.h"
#include "Crc64.h"
#include "ObjectStore.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

bool openContent(const char* path, ObjectStore::ContentFile& content)
{
    content.descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (content.descriptor < 0 || ::fstat(content.descriptor, &status) != 0)
        return false;
    content.size = status.st_size;
    AlibabaCloud::OSS::Crc64 crc;
    std::vector<char> block(1 << 20);
    for (off_t offset = 0; offset < content.size;) {
        const ssize_t n = ::pread(content.descriptor, block.data(), block.size(), offset);
        if (n <= 0)
            return false;
        crc.update(block.data(), static_cast<size_t>(n));
        offset += n;
    }
    content.crc64 = crc.value();
    return true;
}

int listenOnLoopback(unsigned* port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    *port = ntohs(address.sin_port);
    return listener;
}

void acceptConnections(int listener, ObjectStore& store)
{
    for (;;) {
        const int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            std::perror("oss_loopback_server: accept");
            std::_Exit(1);
        }
        // The client waits for each answer; small writes must not wait for more.
        const int on = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread([socket, &store] { Connection(socket, store).serve(); }).detach();
    }
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CONTENT_FILE\n", argv[0]);
        return 2;
    }
    ObjectStore::ContentFile content;
    if (!openContent(argv[1], content)) {
        std::perror(argv[1]);
        return 1;
    }
    ObjectStore store(content);
    unsigned port = 0;
    const int listener = listenOnLoopback(&port);
    if (listener < 0) {
        std::perror("oss_loopback_server: listen");
        return 1;
    }
    std::thread([listener, &store] { acceptConnections(listener, store); }).detach();
    std::printf("%u\n", port);
    std::fflush(stdout);

    for (std::string line; std::getline(std::cin, line);) {
        if (line == "cpu") {
            std::printf("%.6f\n", cpuSeconds());
            std::fflush(stdout);
        }
    }
    // Connections may still be served: end without unwinding under them.
    std::_Exit(0);
}
