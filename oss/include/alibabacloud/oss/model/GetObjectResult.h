#pragma once

#include "alibabacloud/oss/model/ObjectMetaData.h"

#include <iostream>
#include <memory>
#include <string>

namespace AlibabaCloud {
namespace OSS {

class GetObjectResult
{
public:
    GetObjectResult() = default;
    GetObjectResult(const std::string& bucket, const std::string& key, const std::shared_ptr<std::iostream>& content,
                    const ObjectMetaData& metaData, const std::string& requestId)
        : bucket_(bucket)
        , key_(key)
        , content_(content)
        , metaData_(metaData)
        , requestId_(requestId)
    {
    }

    const std::string& Bucket() const { return bucket_; }
    const std::string& Key() const { return key_; }
    const std::shared_ptr<std::iostream>& Content() const { return content_; }
    const ObjectMetaData& Metadata() const { return metaData_; }
    const std::string& RequestId() const { return requestId_; }

private:
    std::string bucket_;
    std::string key_;
    std::shared_ptr<std::iostream> content_;
    ObjectMetaData metaData_;
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
