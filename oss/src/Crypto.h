#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {
namespace Crypto {

std::string base64(const std::string& data);
std::string md5(const std::string& data);
std::string hmacSha1(const std::string& key, const std::string& data);
std::string toHex(const std::string& data);

} // namespace Crypto
} // namespace OSS
} // namespace AlibabaCloud
