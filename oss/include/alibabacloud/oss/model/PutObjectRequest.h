#pragma once

#include "alibabacloud/oss/model/ObjectMetaData.h"
#include "alibabacloud/oss/model/OssRequest.h"

#include <iostream>
#include <memory>

namespace AlibabaCloud {
namespace OSS {

// The body is the content stream from its current position to its end,
// unless MetaData().setContentLength() says how many bytes to send.
class PutObjectRequest : public OssObjectRequest
{
public:
    PutObjectRequest(const std::string& bucket, const std::string& key, const std::shared_ptr<std::iostream>& content)
        : OssObjectRequest(bucket, key)
        , content_(content)
    {
    }
    PutObjectRequest(const std::string& bucket, const std::string& key, const std::shared_ptr<std::iostream>& content,
                     const ObjectMetaData& metaData)
        : OssObjectRequest(bucket, key)
        , content_(content)
        , metaData_(metaData)
    {
    }

    const std::shared_ptr<std::iostream>& Body() const { return content_; }
    const ObjectMetaData& MetaData() const { return metaData_; }
    ObjectMetaData& MetaData() { return metaData_; }

private:
    std::shared_ptr<std::iostream> content_;
    ObjectMetaData metaData_;
};

} // namespace OSS
} // namespace AlibabaCloud
