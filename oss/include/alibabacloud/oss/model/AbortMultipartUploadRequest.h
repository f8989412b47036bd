#pragma once

#include "alibabacloud/oss/model/OssRequest.h"

namespace AlibabaCloud {
namespace OSS {

class AbortMultipartUploadRequest : public OssObjectRequest
{
public:
    AbortMultipartUploadRequest(const std::string& bucket, const std::string& key, const std::string& uploadId)
        : OssObjectRequest(bucket, key)
        , uploadId_(uploadId)
    {
    }

    const std::string& UploadId() const { return uploadId_; }

private:
    std::string uploadId_;
};

} // namespace OSS
} // namespace AlibabaCloud
