#include "Signer.h"

#include "Crypto.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace AlibabaCloud {
namespace OSS {
namespace Signer {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string headerValue(const HeaderCollection& headers, const std::string& name)
{
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

} // namespace

bool isSignedSubResource(const std::string& name)
{
    static const std::set<std::string> names = {"acl",
                                                "uploads",
                                                "location",
                                                "cors",
                                                "logging",
                                                "website",
                                                "referer",
                                                "lifecycle",
                                                "delete",
                                                "append",
                                                "tagging",
                                                "objectMeta",
                                                "uploadId",
                                                "partNumber",
                                                "security-token",
                                                "position",
                                                "img",
                                                "style",
                                                "styleName",
                                                "replication",
                                                "replicationProgress",
                                                "replicationLocation",
                                                "cname",
                                                "bucketInfo",
                                                "comp",
                                                "qos",
                                                "live",
                                                "status",
                                                "vod",
                                                "startTime",
                                                "endTime",
                                                "symlink",
                                                "x-oss-process",
                                                "response-content-type",
                                                "response-content-language",
                                                "response-expires",
                                                "response-cache-control",
                                                "response-content-disposition",
                                                "response-content-encoding"};
    return names.count(name) != 0;
}

std::string canonicalizedResource(const std::string& bucket, const std::string& key,
                                  const ParameterCollection& parameters)
{
    std::string resource = "/";
    if (!bucket.empty())
        resource += bucket + "/" + key;
    char separator = '?';
    for (const auto& [name, value] : parameters) {
        if (!isSignedSubResource(name))
            continue;
        resource += separator;
        resource += name;
        if (!value.empty())
            resource += "=" + value;
        separator = '&';
    }
    return resource;
}

std::string canonicalizedOssHeaders(const HeaderCollection& headers)
{
    std::map<std::string, std::string> ossHeaders;
    for (const auto& [name, value] : headers) {
        const std::string lowered = lower(name);
        if (lowered.compare(0, 6, "x-oss-") == 0)
            ossHeaders[lowered] = trim(value);
    }
    std::string out;
    for (const auto& [name, value] : ossHeaders)
        out += name + ":" + value + "\n";
    return out;
}

std::string stringToSign(const std::string& method, const HeaderCollection& headers, const std::string& resource)
{
    // A request that carries x-oss-date is timed, and signed, by it instead of Date.
    std::string date = headerValue(headers, "x-oss-date");
    if (date.empty())
        date = headerValue(headers, "Date");
    return method + "\n" + headerValue(headers, "Content-MD5") + "\n" + headerValue(headers, "Content-Type") + "\n"
           + date + "\n" + canonicalizedOssHeaders(headers) + resource;
}

std::string signature(const std::string& accessKeySecret, const std::string& stringToSign)
{
    return Crypto::base64(Crypto::hmacSha1(accessKeySecret, stringToSign));
}

} // namespace Signer
} // namespace OSS
} // namespace AlibabaCloud
