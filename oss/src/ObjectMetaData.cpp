#include "alibabacloud/oss/model/ObjectMetaData.h"

#include <strings.h>

#include <cstdlib>

namespace AlibabaCloud {
namespace OSS {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const
{
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

ObjectMetaData::ObjectMetaData(const HeaderCollection& headers)
{
    static const std::string userPrefix = "x-oss-meta-";
    for (const auto& [name, value] : headers) {
        if (strncasecmp(name.c_str(), userPrefix.c_str(), userPrefix.size()) == 0)
            userMetaData_[name.substr(userPrefix.size())] = value;
        else
            headers_[name] = value;
    }
}

std::string ObjectMetaData::header(const std::string& name) const
{
    const auto it = headers_.find(name);
    return it == headers_.end() ? std::string() : it->second;
}

int64_t ObjectMetaData::ContentLength() const
{
    const std::string value = header("Content-Length");
    return value.empty() ? -1 : std::strtoll(value.c_str(), nullptr, 10);
}

std::string ObjectMetaData::ContentType() const
{
    return header("Content-Type");
}
std::string ObjectMetaData::ContentMd5() const
{
    return header("Content-MD5");
}
std::string ObjectMetaData::ETag() const
{
    return header("ETag");
}
std::string ObjectMetaData::LastModified() const
{
    return header("Last-Modified");
}
std::string ObjectMetaData::ObjectType() const
{
    return header("x-oss-object-type");
}

uint64_t ObjectMetaData::CRC64() const
{
    return std::strtoull(header("x-oss-hash-crc64ecma").c_str(), nullptr, 10);
}

void ObjectMetaData::setContentLength(int64_t length)
{
    headers_["Content-Length"] = std::to_string(length);
}
void ObjectMetaData::setContentType(const std::string& value)
{
    headers_["Content-Type"] = value;
}
void ObjectMetaData::setContentMd5(const std::string& value)
{
    headers_["Content-MD5"] = value;
}
void ObjectMetaData::addHeader(const std::string& name, const std::string& value)
{
    headers_[name] = value;
}
void ObjectMetaData::addUserHeader(const std::string& name, const std::string& value)
{
    userMetaData_[name] = value;
}

} // namespace OSS
} // namespace AlibabaCloud
