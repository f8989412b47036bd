#pragma once

#include "alibabacloud/oss/model/OssRequest.h"

#include <cstdint>
#include <iostream>
#include <memory>

namespace AlibabaCloud {
namespace OSS {

// The part is ContentLength() bytes of the content stream from its current
// position; without setContentLength, the rest of the stream.
class UploadPartRequest : public OssObjectRequest
{
public:
    UploadPartRequest(const std::string& bucket, const std::string& key, const std::shared_ptr<std::iostream>& content)
        : OssObjectRequest(bucket, key)
        , content_(content)
    {
    }
    UploadPartRequest(const std::string& bucket, const std::string& key, int partNumber, const std::string& uploadId,
                      const std::shared_ptr<std::iostream>& content)
        : OssObjectRequest(bucket, key)
        , content_(content)
        , partNumber_(partNumber)
        , uploadId_(uploadId)
    {
    }

    void setContentLength(uint64_t length)
    {
        contentLength_ = static_cast<int64_t>(length);
        hasContentLength_ = true;
    }
    void setPartNumber(int partNumber) { partNumber_ = partNumber; }
    void setUploadId(const std::string& uploadId) { uploadId_ = uploadId; }

    const std::shared_ptr<std::iostream>& Body() const { return content_; }
    bool hasContentLength() const { return hasContentLength_; }
    int64_t ContentLength() const { return contentLength_; }
    int PartNumber() const { return partNumber_; }
    const std::string& UploadId() const { return uploadId_; }

private:
    std::shared_ptr<std::iostream> content_;
    int partNumber_ = 0;
    std::string uploadId_;
    bool hasContentLength_ = false;
    int64_t contentLength_ = 0;
};

} // namespace OSS
} // namespace AlibabaCloud
