#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace AlibabaCloud {
namespace OSS {

struct CaseInsensitiveLess
{
    bool operator()(const std::string& a, const std::string& b) const;
};

using HeaderCollection = std::map<std::string, std::string, CaseInsensitiveLess>;
using MetaData = std::map<std::string, std::string, CaseInsensitiveLess>;

// HTTP headers of an object, and its user metadata (sent as x-oss-meta-<name>).
class ObjectMetaData
{
public:
    ObjectMetaData() = default;
    explicit ObjectMetaData(const HeaderCollection& headers);

    int64_t ContentLength() const;
    std::string ContentType() const;
    std::string ContentMd5() const;
    std::string ETag() const;
    std::string LastModified() const;
    std::string ObjectType() const;
    uint64_t CRC64() const;

    void setContentLength(int64_t length);
    void setContentType(const std::string& value);
    void setContentMd5(const std::string& value);
    void addHeader(const std::string& name, const std::string& value);
    void addUserHeader(const std::string& name, const std::string& value);

    const HeaderCollection& HttpMetaData() const { return headers_; }
    HeaderCollection& HttpMetaData() { return headers_; }
    const MetaData& UserMetaData() const { return userMetaData_; }
    MetaData& UserMetaData() { return userMetaData_; }

private:
    std::string header(const std::string& name) const;

    HeaderCollection headers_;
    MetaData userMetaData_;
};

} // namespace OSS
} // namespace AlibabaCloud
