#pragma once

#include "alibabacloud/oss/model/OssRequest.h"

#include <cstdint>

namespace AlibabaCloud {
namespace OSS {

class GetObjectRequest : public OssObjectRequest
{
public:
    GetObjectRequest(const std::string& bucket, const std::string& key)
        : OssObjectRequest(bucket, key)
    {
    }

    // Bytes start..end inclusive; end -1 means to the end of the object.
    void setRange(int64_t start, int64_t end)
    {
        rangeStart_ = start;
        rangeEnd_ = end;
        hasRange_ = true;
    }
    bool hasRange() const { return hasRange_; }
    int64_t RangeStart() const { return rangeStart_; }
    int64_t RangeEnd() const { return rangeEnd_; }

    // Without a factory the body goes to an in-memory string stream.
    void setResponseStreamFactory(const IOStreamFactory& factory) { factory_ = factory; }
    const IOStreamFactory& ResponseStreamFactory() const { return factory_; }

private:
    bool hasRange_ = false;
    int64_t rangeStart_ = 0;
    int64_t rangeEnd_ = -1;
    IOStreamFactory factory_;
};

} // namespace OSS
} // namespace AlibabaCloud
