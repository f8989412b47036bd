#pragma once

#include "alibabacloud/oss/model/OssRequest.h"

#include <vector>

namespace AlibabaCloud {
namespace OSS {

using DeletedKeyList = std::vector<std::string>;

// At most 1000 keys per request; Content-MD5 is computed by the client.
class DeleteObjectsRequest : public OssRequest
{
public:
    explicit DeleteObjectsRequest(const std::string& bucket)
        : OssRequest(bucket)
    {
    }

    void addKey(const std::string& key) { keyList_.push_back(key); }
    void clearKeyList() { keyList_.clear(); }
    void setQuiet(bool quiet) { quiet_ = quiet; }
    void setEncodingType(const std::string& encodingType) { encodingType_ = encodingType; }

    const DeletedKeyList& KeyList() const { return keyList_; }
    bool Quiet() const { return quiet_; }
    const std::string& EncodingType() const { return encodingType_; }

private:
    DeletedKeyList keyList_;
    bool quiet_ = false;
    std::string encodingType_;
};

} // namespace OSS
} // namespace AlibabaCloud
