#pragma once

#include "HttpMessage.h"

#include "alibabacloud/oss/ClientConfiguration.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace AlibabaCloud {
namespace OSS {

// Sends requests over libcurl. Idle handles are pooled, so the connections a
// handle keeps open serve later requests of the same client.
class CurlTransport
{
public:
    explicit CurlTransport(const ClientConfiguration& configuration);
    ~CurlTransport();

    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    // Never throws; failures are reported in the response.
    HttpResponse perform(const HttpRequest& request, const std::atomic<bool>& cancelled);
    // Writes the held-back end of a streamed body and flushes the stream;
    // false, with the local error set, when the stream failed.
    static bool releaseHeldBack(HttpResponse& response);

private:
    struct Handle;

    Handle* acquire();
    void release(Handle* handle);

    ClientConfiguration configuration_;
    std::mutex mutex_;
    std::vector<Handle*> idle_;
};

} // namespace OSS
} // namespace AlibabaCloud
