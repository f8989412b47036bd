#pragma once

#include <cstdint>
#include <string>

namespace AlibabaCloud {
namespace OSS {

class CompleteMultipartUploadResult
{
public:
    CompleteMultipartUploadResult() = default;

    const std::string& Location() const { return location_; }
    const std::string& Bucket() const { return bucket_; }
    const std::string& Key() const { return key_; }
    const std::string& ETag() const { return eTag_; }
    uint64_t CRC64() const { return crc64_; }
    const std::string& RequestId() const { return requestId_; }

    void setLocation(const std::string& v) { location_ = v; }
    void setBucket(const std::string& v) { bucket_ = v; }
    void setKey(const std::string& v) { key_ = v; }
    void setETag(const std::string& v) { eTag_ = v; }
    void setCRC64(uint64_t v) { crc64_ = v; }
    void setRequestId(const std::string& v) { requestId_ = v; }

private:
    std::string location_;
    std::string bucket_;
    std::string key_;
    std::string eTag_;
    uint64_t crc64_ = 0;
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
