#include "Connection.h"

#include "Crc64.h"
#include "Url.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

using AlibabaCloud::OSS::Crc64;
namespace Url = AlibabaCloud::OSS::Url;

namespace {

// Large enough that a body comes in with few system calls.
constexpr size_t kBufferSize = 1 << 20;
constexpr size_t kMaxHeadSize = 64 * 1024;
constexpr size_t kMaxKeys = 1000;

const char* reason(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 411: return "Length Required";
    default: return "Not Implemented";
    }
}

std::string newRequestId()
{
    static std::atomic<unsigned long long> next{1};
    char id[32];
    std::snprintf(id, sizeof id, "%024llX", next++);
    return id;
}

std::string xmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string xmlUnescaped(std::string text)
{
    static const std::pair<const char*, char> entities[] = {
        {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
    for (const auto& [entity, c] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::strlen(entity), 1, c);
    }
    return text;
}

std::string elementText(const std::string& xml, const std::string& name)
{
    const std::string open = "<" + name + ">";
    const size_t start = xml.find(open);
    const size_t end = start == std::string::npos ? start : xml.find("</" + name + ">", start);
    if (end == std::string::npos)
        return std::string();
    return xml.substr(start + open.size(), end - start - open.size());
}

// (part number, ETag) of each Part element, in the order listed.
std::vector<std::pair<int, std::string>> listedParts(const std::string& xml)
{
    std::vector<std::pair<int, std::string>> parts;
    for (size_t at = xml.find("<Part>"); at != std::string::npos; at = xml.find("<Part>", at)) {
        const size_t end = xml.find("</Part>", at);
        if (end == std::string::npos)
            break;
        const std::string part = xml.substr(at, end - at);
        parts.emplace_back(std::atoi(elementText(part, "PartNumber").c_str()), xmlUnescaped(elementText(part, "ETag")));
        at = end;
    }
    return parts;
}

// The ETag of everything stored here: the CRC-64, so that a benchmark can
// tell from a listing whether the object holds what it sent.
std::string eTagOf(uint64_t crc64)
{
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llX\"", static_cast<unsigned long long>(crc64));
    return text;
}

std::string isoTime(std::time_t time)
{
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
    return text;
}

const char* const kXmlPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

} // namespace

Connection::Connection(int socket, ObjectStore& store)
    : socket_(socket)
    , store_(store)
    , buffer_(kBufferSize)
{
}

Connection::~Connection()
{
    ::close(socket_);
}

void Connection::serve()
{
    for (;;) {
        Request request;
        if (!readHead(request) || !dispatch(request) || request.close)
            return;
    }
}

bool Connection::readHead(Request& request)
{
    static const char kEnd[] = "\r\n\r\n";
    std::string head;
    for (;;) {
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(begin_);
        const auto last = buffer_.begin() + static_cast<std::ptrdiff_t>(end_);
        const auto found = std::search(first, last, kEnd, kEnd + 4);
        if (found != last) {
            head.assign(first, found);
            begin_ = static_cast<size_t>(found - buffer_.begin()) + 4;
            break;
        }
        if (end_ - begin_ > kMaxHeadSize)
            return false;
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        const ssize_t n = ::recv(socket_, buffer_.data() + end_, buffer_.size() - end_, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        end_ += static_cast<size_t>(n);
    }

    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t methodEnd = requestLine.find(' ');
    const size_t targetEnd = requestLine.find(' ', methodEnd + 1);
    if (methodEnd == std::string::npos || targetEnd == std::string::npos)
        return false;
    request.method = requestLine.substr(0, methodEnd);
    const std::string target = requestLine.substr(methodEnd + 1, targetEnd - methodEnd - 1);

    const size_t queryStart = target.find('?');
    const std::string path = target.substr(0, queryStart);
    if (path.empty() || path[0] != '/')
        return false;
    const size_t bucketEnd = path.find('/', 1);
    request.bucket = Url::decode(path.substr(1, bucketEnd == std::string::npos ? std::string::npos : bucketEnd - 1));
    if (bucketEnd != std::string::npos)
        request.key = Url::decode(path.substr(bucketEnd + 1));
    if (queryStart != std::string::npos) {
        const std::string query = target.substr(queryStart + 1);
        for (size_t at = 0; at <= query.size();) {
            const size_t end = std::min(query.find('&', at), query.size());
            const std::string item = query.substr(at, end - at);
            const size_t equals = item.find('=');
            if (!item.empty())
                request.query[Url::decode(item.substr(0, equals))] =
                    equals == std::string::npos ? std::string() : Url::decode(item.substr(equals + 1));
            at = end + 1;
        }
    }

    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = line.substr(0, colon);
        const size_t valueStart = line.find_first_not_of(' ', colon + 1);
        const std::string value = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
        if (strcasecmp(name.c_str(), "Content-Length") == 0) {
            request.contentLength = std::strtoll(value.c_str(), nullptr, 10);
        } else if (strcasecmp(name.c_str(), "Transfer-Encoding") == 0) {
            request.contentLength = -1;
        } else if (strcasecmp(name.c_str(), "Expect") == 0) {
            request.expectContinue = strcasecmp(value.c_str(), "100-continue") == 0;
        } else if (strcasecmp(name.c_str(), "Connection") == 0) {
            request.close = strcasecmp(value.c_str(), "close") == 0;
        }
    }
    return true;
}

bool Connection::readBody(const Request& request, const Sink& sink)
{
    int64_t remaining = request.contentLength;
    if (request.expectContinue && remaining > 0 && begin_ == end_ && !respond(100, std::string()))
        return false;
    const size_t buffered = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(end_ - begin_)));
    if (buffered > 0) {
        sink(buffer_.data() + begin_, buffered);
        begin_ += buffered;
        remaining -= static_cast<int64_t>(buffered);
    }
    if (begin_ == end_)
        begin_ = end_ = 0;
    // Whatever was buffered is taken now; the rest goes straight through.
    while (remaining > 0) {
        const size_t wanted = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(buffer_.size())));
        const ssize_t n = ::recv(socket_, buffer_.data(), wanted, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sink(buffer_.data(), static_cast<size_t>(n));
        remaining -= n;
    }
    return true;
}

bool Connection::sendAll(const char* data, size_t size, int flags)
{
    while (size > 0) {
        const ssize_t n = ::send(socket_, data, size, flags | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool Connection::respond(int status, const std::string& headers, const std::string& body, int flags)
{
    std::string message = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    if (status >= 200)
        message += "Content-Length: " + std::to_string(body.size()) + "\r\nx-oss-request-id: " + newRequestId() + "\r\n"
                   + headers;
    message += "\r\n";
    message += body;
    return sendAll(message.data(), message.size(), flags);
}

bool Connection::respondError(const Request& request, int status, const char* code, const std::string& message)
{
    const std::string body = std::string(kXmlPrologue) + "<Error><Code>" + code + "</Code><Message>"
                             + xmlEscaped(message) + "</Message><RequestId>" + newRequestId()
                             + "</RequestId><HostId>127.0.0.1</HostId><Key>" + xmlEscaped(request.key)
                             + "</Key></Error>";
    return respond(status, "Content-Type: application/xml\r\n", body);
}

bool Connection::respondStored(int status, uint64_t crc64, const std::string& headers, const std::string& body)
{
    return respond(status,
                   "ETag: " + eTagOf(crc64) + "\r\nx-oss-hash-crc64ecma: " + std::to_string(crc64) + "\r\n" + headers,
                   body);
}

bool Connection::dispatch(const Request& request)
{
    if (request.contentLength < 0) {
        respondError(request, 411, "MissingContentLength", "This server takes no chunked bodies.");
        return false;
    }
    if (request.method == "GET")
        return request.key.empty() ? listObjects(request) : getObject(request);
    if (request.method == "PUT" && !request.key.empty())
        return request.query.count("partNumber") ? uploadPart(request) : putObject(request);
    if (request.method == "POST" && !request.key.empty() && request.query.count("uploads"))
        return initiateUpload(request);
    if (request.method == "POST" && !request.key.empty() && request.query.count("uploadId"))
        return completeUpload(request);
    return readBody(request, [](const char*, size_t) {})
           && respondError(request, 501, "NotImplemented",
                           "This server answers only what the storage benchmarks send.");
}

bool Connection::listObjects(const Request& request)
{
    const auto prefix = request.query.find("prefix");
    const std::string wanted = prefix == request.query.end() ? std::string() : prefix->second;
    const auto maxKeys = request.query.find("max-keys");
    const size_t limit = maxKeys == request.query.end()
                             ? 100
                             : std::clamp<size_t>(std::strtoul(maxKeys->second.c_str(), nullptr, 10), 1, kMaxKeys);
    std::string body = std::string(kXmlPrologue) + "<ListBucketResult><Name>" + xmlEscaped(request.bucket)
                       + "</Name><Prefix>" + xmlEscaped(wanted) + "</Prefix><Marker></Marker><MaxKeys>"
                       + std::to_string(limit) + "</MaxKeys><Delimiter></Delimiter><IsTruncated>false</IsTruncated>";
    for (const auto& [key, object] : store_.list(wanted, limit)) {
        body += "<Contents><Key>" + xmlEscaped(key) + "</Key><LastModified>" + isoTime(object.stored)
                + "</LastModified><ETag>" + xmlEscaped(eTagOf(object.crc64)) + "</ETag><Type>Normal</Type><Size>"
                + std::to_string(object.size) + "</Size><StorageClass>Standard</StorageClass></Contents>";
    }
    body += "</ListBucketResult>";
    return respond(200, "Content-Type: application/xml\r\n", body);
}

bool Connection::getObject(const Request& request)
{
    const std::optional<ObjectStore::Object> object = store_.find(request.key);
    if (!object)
        return respondError(request, 404, "NoSuchKey", "The specified key does not exist.");
    if (!store_.holdsContent(*object))
        return respondError(request, 501, "NotImplemented",
                            "This server sends only the content it was started with, and this object differs.");
    const ObjectStore::ContentFile& content = store_.content();
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size)
                             + "\r\nContent-Type: application/octet-stream\r\nETag: " + eTagOf(content.crc64)
                             + "\r\nx-oss-hash-crc64ecma: " + std::to_string(content.crc64)
                             + "\r\nx-oss-request-id: " + newRequestId() + "\r\n\r\n";
    if (!sendAll(head.data(), head.size(), MSG_MORE))
        return false;
    // Straight from the page cache into the socket.
    off_t offset = 0;
    while (offset < content.size) {
        const ssize_t n = ::sendfile(socket_, content.descriptor, &offset,
                                     static_cast<size_t>(std::min<int64_t>(content.size - offset, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
    }
    return true;
}

bool Connection::putObject(const Request& request)
{
    Crc64 crc;
    if (!readBody(request, [&crc](const char* data, size_t size) { crc.update(data, size); }))
        return false;
    store_.put(request.key, request.contentLength, crc.value());
    return respondStored(200, crc.value(), std::string(), std::string());
}

bool Connection::initiateUpload(const Request& request)
{
    if (!readBody(request, [](const char*, size_t) {}))
        return false;
    const std::string uploadId = store_.initiate(request.key);
    return respond(200, "Content-Type: application/xml\r\n",
                   std::string(kXmlPrologue) + "<InitiateMultipartUploadResult><Bucket>" + xmlEscaped(request.bucket)
                       + "</Bucket><Key>" + xmlEscaped(request.key) + "</Key><UploadId>" + uploadId
                       + "</UploadId></InitiateMultipartUploadResult>");
}

bool Connection::uploadPart(const Request& request)
{
    const auto id = request.query.find("uploadId");
    const std::string uploadId = id == request.query.end() ? std::string() : id->second;
    const int partNumber = std::atoi(request.query.at("partNumber").c_str());
    uint64_t before = 0;
    ObjectStore::PartCheck check = store_.beginPart(uploadId, request.key, partNumber, &before);
    Crc64 part;
    Crc64 whole(before);
    if (!readBody(request, [&](const char* data, size_t size) {
            part.update(data, size);
            whole.update(data, size);
        }))
        return false;
    const std::string eTag = eTagOf(part.value());
    if (check == ObjectStore::PartCheck::Accepted)
        check = store_.addPart(uploadId, partNumber, request.contentLength, whole.value(), eTag);
    switch (check) {
    case ObjectStore::PartCheck::NoSuchUpload:
        return respondError(request, 404, "NoSuchUpload", "The specified upload does not exist.");
    case ObjectStore::PartCheck::OutOfOrder:
        return respondError(request, 400, "InvalidPartOrder",
                            "This server takes the parts of an upload in order, each once.");
    case ObjectStore::PartCheck::Accepted: break;
    }
    return respondStored(200, part.value(), std::string(), std::string());
}

bool Connection::completeUpload(const Request& request)
{
    std::string xml;
    if (!readBody(request, [&xml](const char* data, size_t size) { xml.append(data, size); }))
        return false;
    ObjectStore::Object object;
    switch (store_.complete(request.query.at("uploadId"), request.key, listedParts(xml), &object)) {
    case ObjectStore::Completion::NoSuchUpload:
        return respondError(request, 404, "NoSuchUpload", "The specified upload does not exist.");
    case ObjectStore::Completion::InvalidPart:
        return respondError(request, 400, "InvalidPart",
                            "The listed parts are not exactly the parts received, in order, with their ETags.");
    case ObjectStore::Completion::Completed: break;
    }
    return respondStored(200, object.crc64, "Content-Type: application/xml\r\n",
                         std::string(kXmlPrologue) + "<CompleteMultipartUploadResult><Location>http://127.0.0.1/"
                             + xmlEscaped(request.bucket) + "/" + xmlEscaped(request.key) + "</Location><Bucket>"
                             + xmlEscaped(request.bucket) + "</Bucket><Key>" + xmlEscaped(request.key) + "</Key><ETag>"
                             + xmlEscaped(eTagOf(object.crc64)) + "</ETag></CompleteMultipartUploadResult>");
}
