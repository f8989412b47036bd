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

private:
    struct Handle;

    Handle* acquire();
    void release(Handle* handle);

    ClientConfiguration configuration_;
    std::mutex mutex_;
    std::vector<Handle*> idle_;
};

}
}
