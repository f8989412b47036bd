#pragma once

#include "alibabacloud/oss/model/ObjectMetaData.h"

#include <map>
#include <string>

namespace AlibabaCloud {
namespace OSS {

using ParameterCollection = std::map<std::string, std::string>;

// The service's V1 request signature.
namespace Signer {

bool isSignedSubResource(const std::string& name);
// "/bucket/key" with the raw key, "/bucket/" for a bucket, "/" without one,
// followed by the signed sub-resources sorted by name ("?a&b=v").
std::string canonicalizedResource(const std::string& bucket, const std::string& key,
                                  const ParameterCollection& parameters);
// Every x-oss- header, name lower-cased, value trimmed, sorted, one "name:value\n" each.
std::string canonicalizedOssHeaders(const HeaderCollection& headers);
std::string stringToSign(const std::string& method, const HeaderCollection& headers, const std::string& resource);
std::string signature(const std::string& accessKeySecret, const std::string& stringToSign);

} // namespace Signer
} // namespace OSS
} // namespace AlibabaCloud
