#pragma once

#include "alibabacloud/oss/Types.h"

#include <string>

namespace AlibabaCloud {
namespace OSS {

// What every request carries: its bucket and an optional progress handler.
class OssRequest
{
public:
    explicit OssRequest(const std::string& bucket)
        : bucket_(bucket)
    {
    }
    virtual ~OssRequest() = default;

    const std::string& Bucket() const { return bucket_; }
    void setBucket(const std::string& bucket) { bucket_ = bucket; }

    void setTransferProgress(const TransferProgress& progress) { progress_ = progress; }
    const TransferProgress& transferProgress() const { return progress_; }

private:
    std::string bucket_;
    TransferProgress progress_;
};

class OssObjectRequest : public OssRequest
{
public:
    OssObjectRequest(const std::string& bucket, const std::string& key)
        : OssRequest(bucket)
        , key_(key)
    {
    }

    const std::string& Key() const { return key_; }
    void setKey(const std::string& key) { key_ = key; }

private:
    std::string key_;
};

} // namespace OSS
} // namespace AlibabaCloud
