#pragma once

#include <cstdint>
#include <string>

namespace AlibabaCloud {
namespace OSS {

// Also the result of UploadPart, whose ETag() is the part's.
class PutObjectResult
{
public:
    PutObjectResult() = default;
    PutObjectResult(const std::string& eTag, uint64_t crc64, const std::string& requestId)
        : eTag_(eTag)
        , crc64_(crc64)
        , requestId_(requestId)
    {
    }

    const std::string& ETag() const { return eTag_; }
    uint64_t CRC64() const { return crc64_; }
    const std::string& RequestId() const { return requestId_; }

private:
    std::string eTag_;
    uint64_t crc64_ = 0;
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
