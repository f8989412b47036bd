#pragma once

#include "alibabacloud/oss/model/ObjectSummary.h"

#include <string>
#include <vector>

namespace AlibabaCloud {
namespace OSS {

using CommonPrefixeList = std::vector<std::string>;

class ListObjectsResult
{
public:
    ListObjectsResult() = default;

    const std::string& RequestId() const { return requestId_; }
    const std::string& Name() const { return name_; }
    const std::string& Prefix() const { return prefix_; }
    const std::string& Marker() const { return marker_; }
    const std::string& Delimiter() const { return delimiter_; }
    const std::string& EncodingType() const { return encodingType_; }
    int MaxKeys() const { return maxKeys_; }
    bool IsTruncated() const { return isTruncated_; }
    const std::string& NextMarker() const { return nextMarker_; }
    const CommonPrefixeList& CommonPrefixes() const { return commonPrefixes_; }
    const ObjectSummaryList& ObjectSummarys() const { return objectSummarys_; }

    void setRequestId(const std::string& v) { requestId_ = v; }
    void setName(const std::string& v) { name_ = v; }
    void setPrefix(const std::string& v) { prefix_ = v; }
    void setMarker(const std::string& v) { marker_ = v; }
    void setDelimiter(const std::string& v) { delimiter_ = v; }
    void setEncodingType(const std::string& v) { encodingType_ = v; }
    void setMaxKeys(int v) { maxKeys_ = v; }
    void setIsTruncated(bool v) { isTruncated_ = v; }
    void setNextMarker(const std::string& v) { nextMarker_ = v; }
    CommonPrefixeList& commonPrefixes() { return commonPrefixes_; }
    ObjectSummaryList& objectSummarys() { return objectSummarys_; }

private:
    std::string requestId_;
    std::string name_;
    std::string prefix_;
    std::string marker_;
    std::string delimiter_;
    std::string encodingType_;
    int maxKeys_ = 0;
    bool isTruncated_ = false;
    std::string nextMarker_;
    CommonPrefixeList commonPrefixes_;
    ObjectSummaryList objectSummarys_;
};

} // namespace OSS
} // namespace AlibabaCloud
