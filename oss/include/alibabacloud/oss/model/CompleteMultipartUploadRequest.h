#pragma once

#include "alibabacloud/oss/model/OssRequest.h"
#include "alibabacloud/oss/model/Part.h"

namespace AlibabaCloud {
namespace OSS {

// The part list is sent sorted by part number.
class CompleteMultipartUploadRequest : public OssObjectRequest
{
public:
    CompleteMultipartUploadRequest(const std::string& bucket, const std::string& key)
        : OssObjectRequest(bucket, key)
    {
    }
    CompleteMultipartUploadRequest(const std::string& bucket, const std::string& key, const PartList& partList,
                                   const std::string& uploadId = "")
        : OssObjectRequest(bucket, key)
        , partList_(partList)
        , uploadId_(uploadId)
    {
    }

    void setUploadId(const std::string& uploadId) { uploadId_ = uploadId; }
    void setPartList(const PartList& partList) { partList_ = partList; }
    void setEncodingType(const std::string& encodingType) { encodingType_ = encodingType; }

    const std::string& UploadId() const { return uploadId_; }
    const PartList& PartLists() const { return partList_; }
    const std::string& EncodingType() const { return encodingType_; }

private:
    PartList partList_;
    std::string uploadId_;
    std::string encodingType_;
};

} // namespace OSS
} // namespace AlibabaCloud
