#include "Url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace AlibabaCloud {
namespace OSS {
namespace Url {

std::string encode(const std::string& value, bool keepSlash)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        }
    }
    return out;
}

std::string decode(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string Endpoint::authority(const std::string& bucketPrefix) const
{
    std::string a = bucketPrefix.empty() ? host : bucketPrefix + "." + host;
    if (!port.empty())
        a += ":" + port;
    return a;
}

Endpoint parseEndpoint(const std::string& endpoint, Http::Scheme defaultScheme)
{
    Endpoint result;
    std::string rest = endpoint;
    const auto trimFrom = rest.find_first_not_of(" \t");
    rest = trimFrom == std::string::npos ? std::string() : rest.substr(trimFrom);
    rest.erase(rest.find_last_not_of(" \t") + 1);

    const auto schemeEnd = rest.find("://");
    if (schemeEnd != std::string::npos) {
        result.scheme = rest.substr(0, schemeEnd);
        std::transform(result.scheme.begin(), result.scheme.end(), result.scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        rest = rest.substr(schemeEnd + 3);
    } else {
        result.scheme = defaultScheme == Http::HTTPS ? "https" : "http";
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));

    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        result.host = rest.substr(0, close == std::string::npos ? rest.size() : close + 1);
        result.isIp = close != std::string::npos;
        if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':')
            result.port = rest.substr(close + 2);
    } else {
        const auto colon = rest.find(':');
        result.host = rest.substr(0, colon);
        if (colon != std::string::npos)
            result.port = rest.substr(colon + 1);
        in_addr address;
        result.isIp = inet_pton(AF_INET, result.host.c_str(), &address) == 1;
    }
    return result;
}

} // namespace Url
} // namespace OSS
} // namespace AlibabaCloud
