#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

class VoidResult
{
public:
    VoidResult() = default;
    explicit VoidResult(const std::string& requestId)
        : requestId_(requestId)
    {
    }

    const std::string& RequestId() const { return requestId_; }

private:
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
