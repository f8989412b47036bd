#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

// Content-Type for an upload that names none, from the key's extension.
std::string mimeTypeForKey(const std::string& key);

} // namespace OSS
} // namespace AlibabaCloud
