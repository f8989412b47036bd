#pragma once

#include "ObjectStore.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// One client connection of the benchmark server: HTTP/1.1 requests one after
// the other on the same socket until the client closes it. Path-style
// addressing only ("/bucket/key"), as clients of an IP endpoint send.
class Connection
{
public:
    Connection(int socket, ObjectStore& store);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void serve();

private:
    struct Request
    {
        std::string method;
        std::string bucket;
        std::string key;
        std::map<std::string, std::string> query;
        int64_t contentLength = 0;
        bool expectContinue = false;
        bool close = false;
    };
    using Sink = std::function<void(const char* data, size_t size)>;

    bool readHead(Request& request);
    bool readBody(const Request& request, const Sink& sink);
    bool sendAll(const char* data, size_t size, int flags);
    bool respond(int status, const std::string& headers, const std::string& body = std::string(), int flags = 0);
    bool respondError(const Request& request, int status, const char* code, const std::string& message);
    bool respondStored(int status, uint64_t crc64, const std::string& headers, const std::string& body);

    bool dispatch(const Request& request);
    bool listObjects(const Request& request);
    bool getObject(const Request& request);
    bool putObject(const Request& request);
    bool initiateUpload(const Request& request);
    bool uploadPart(const Request& request);
    bool completeUpload(const Request& request);

    int socket_;
    ObjectStore& store_;
    // Request heads and bodies pass through here; [begin_, end_) is unread.
    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
};
