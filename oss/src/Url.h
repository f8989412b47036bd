#pragma once

#include "alibabacloud/oss/Types.h"

#include <string>

namespace AlibabaCloud {
namespace OSS {
namespace Url {

// Percent-encodes every byte but the unreserved ones (A-Z a-z 0-9 - _ . ~),
// upper-case hex, a space as %20; '/' too unless keepSlash.
std::string encode(const std::string& value, bool keepSlash);
std::string decode(const std::string& value);

struct Endpoint
{
    std::string scheme; // "http" or "https"
    std::string host; // as written, IPv6 with its brackets
    std::string port; // empty when not given
    bool isIp = false;

    std::string authority(const std::string& bucketPrefix) const;
};

// Accepts "scheme://host[:port][/...]" and "host[:port]"; the scheme comes from
// the configuration when the endpoint lacks one.
Endpoint parseEndpoint(const std::string& endpoint, Http::Scheme defaultScheme);

} // namespace Url
} // namespace OSS
} // namespace AlibabaCloud
