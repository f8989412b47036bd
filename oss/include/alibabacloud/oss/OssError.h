#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

// A service error (the Code of its error XML) or a client-side one
// ("ClientError:2000NN" for transport failures).
class OssError
{
public:
    OssError() = default;
    OssError(const std::string& code, const std::string& message)
        : code_(code)
        , message_(message)
    {
    }

    const std::string& Code() const { return code_; }
    const std::string& Message() const { return message_; }
    const std::string& RequestId() const { return requestId_; }
    const std::string& Host() const { return host_; }

    void setCode(const std::string& code) { code_ = code; }
    void setMessage(const std::string& message) { message_ = message; }
    void setRequestId(const std::string& requestId) { requestId_ = requestId; }
    void setHost(const std::string& host) { host_ = host; }

private:
    std::string code_;
    std::string message_;
    std::string requestId_;
    std::string host_;
};

} // namespace OSS
} // namespace AlibabaCloud
