#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

class InitiateMultipartUploadResult
{
public:
    InitiateMultipartUploadResult() = default;
    InitiateMultipartUploadResult(const std::string& bucket, const std::string& key, const std::string& uploadId,
                                  const std::string& requestId)
        : bucket_(bucket)
        , key_(key)
        , uploadId_(uploadId)
        , requestId_(requestId)
    {
    }

    const std::string& Bucket() const { return bucket_; }
    const std::string& Key() const { return key_; }
    const std::string& UploadId() const { return uploadId_; }
    const std::string& RequestId() const { return requestId_; }

private:
    std::string bucket_;
    std::string key_;
    std::string uploadId_;
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
