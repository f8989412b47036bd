#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>

namespace AlibabaCloud {
namespace OSS {

namespace Http {
enum Scheme { HTTP, HTTPS };
}

// Makes the stream a GetObject writes the response body into. It is called
// once, and only when the service has answered with a success the request
// asked for (200, or 206 to a request for a range): a request that fails
// before that leaves the target as it was. At least the body's last 64 KiB (all of a
// shorter body) reach the stream only after its length and CRC-64 checks have
// passed, so a download that fails after the call leaves less than the whole
// body in it.
using IOStreamFactory = std::function<std::shared_ptr<std::iostream>()>;

// (bytes in this call, bytes so far, total bytes or 0 when not yet known, user data)
using ProgressCallback = std::function<void(size_t increment, int64_t transfered, int64_t total, void* userData)>;

struct TransferProgress
{
    ProgressCallback Handler;
    void* UserData = nullptr;
};

} // namespace OSS
} // namespace AlibabaCloud
