#pragma once

#include "alibabacloud/oss/model/DeleteObjectsRequest.h"

namespace AlibabaCloud {
namespace OSS {

// Verbose mode lists every deleted key; quiet mode only those that failed.
class DeleteObjectsResult
{
public:
    DeleteObjectsResult() = default;
    DeleteObjectsResult(bool quiet, const DeletedKeyList& keys, const std::string& requestId)
        : quiet_(quiet)
        , keyList_(keys)
        , requestId_(requestId)
    {
    }

    bool Quiet() const { return quiet_; }
    const DeletedKeyList& keyList() const { return keyList_; }
    const std::string& RequestId() const { return requestId_; }

private:
    bool quiet_ = false;
    DeletedKeyList keyList_;
    std::string requestId_;
};

} // namespace OSS
} // namespace AlibabaCloud
