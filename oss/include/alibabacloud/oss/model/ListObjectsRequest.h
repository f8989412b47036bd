#pragma once

#include "alibabacloud/oss/model/OssRequest.h"

namespace AlibabaCloud {
namespace OSS {

class ListObjectsRequest : public OssRequest
{
public:
    explicit ListObjectsRequest(const std::string& bucket)
        : OssRequest(bucket)
    {
    }

    void setPrefix(const std::string& prefix) { prefix_ = prefix; }
    void setMarker(const std::string& marker) { marker_ = marker; }
    void setDelimiter(const std::string& delimiter) { delimiter_ = delimiter; }
    // 1-1000; 0 leaves the service's default (100).
    void setMaxKeys(int maxKeys) { maxKeys_ = maxKeys; }
    void setEncodingType(const std::string& encodingType) { encodingType_ = encodingType; }

    const std::string& Prefix() const { return prefix_; }
    const std::string& Marker() const { return marker_; }
    const std::string& Delimiter() const { return delimiter_; }
    int MaxKeys() const { return maxKeys_; }
    const std::string& EncodingType() const { return encodingType_; }

private:
    std::string prefix_;
    std::string marker_;
    std::string delimiter_;
    int maxKeys_ = 0;
    std::string encodingType_;
};

} // namespace OSS
} // namespace AlibabaCloud
