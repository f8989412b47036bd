#pragma once

#include "alibabacloud/oss/Types.h"
#include "alibabacloud/oss/model/ObjectMetaData.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

namespace AlibabaCloud {
namespace OSS {

struct HttpRequest
{
    std::string method;
    std::string url;
    HeaderCollection headers;
    // Body: bodyLength bytes of bodyStream from its position, or bodyText.
    std::shared_ptr<std::iostream> bodyStream;
    int64_t bodyLength = 0;
    std::string bodyText;
    bool hasBody = false;
    TransferProgress progress;
    // Set for GetObject: a 2xx body goes into the stream it makes.
    IOStreamFactory responseStreamFactory;

    // Whether this request can have asked for a success with this status:
    // partial content only with a range, an object's body only as 200 or 206.
    bool asksFor(long status) const
    {
        if (status == 206)
            return headers.count("Range") > 0;
        return !responseStreamFactory || status == 200;
    }
};

struct HttpResponse
{
    int curlCode = 0;
    std::string curlMessage;
    // A client-side failure that is not libcurl's (e.g. the content stream ended early).
    std::string localErrorCode;
    std::string localErrorMessage;
    long status = 0;
    HeaderCollection headers;
    std::string body;
    std::shared_ptr<std::iostream> stream;
    // The end of a streamed body, not yet in the stream: the caller releases it
    // once the body has checked out, so a damaged download never has full length.
    std::string heldBack;
    int64_t bytesSent = 0;
    int64_t bytesReceived = 0;
    uint64_t sentCrc64 = 0;
    uint64_t receivedCrc64 = 0;

    // The first local failure is the one reported.
    void failLocally(const std::string& code, const std::string& message)
    {
        if (localErrorCode.empty()) {
            localErrorCode = code;
            localErrorMessage = message;
        }
    }

    std::string header(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

} // namespace OSS
} // namespace AlibabaCloud
