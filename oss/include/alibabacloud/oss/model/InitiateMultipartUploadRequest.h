#pragma once

#include "alibabacloud/oss/model/ObjectMetaData.h"
#include "alibabacloud/oss/model/OssRequest.h"

namespace AlibabaCloud {
namespace OSS {

class InitiateMultipartUploadRequest : public OssObjectRequest
{
public:
    InitiateMultipartUploadRequest(const std::string& bucket, const std::string& key)
        : OssObjectRequest(bucket, key)
    {
    }
    InitiateMultipartUploadRequest(const std::string& bucket, const std::string& key, const ObjectMetaData& metaData)
        : OssObjectRequest(bucket, key)
        , metaData_(metaData)
    {
    }

    const ObjectMetaData& MetaData() const { return metaData_; }
    ObjectMetaData& MetaData() { return metaData_; }

private:
    ObjectMetaData metaData_;
};

} // namespace OSS
} // namespace AlibabaCloud
