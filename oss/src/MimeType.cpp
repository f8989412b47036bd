#include "MimeType.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace AlibabaCloud {
namespace OSS {

std::string mimeTypeForKey(const std::string& key)
{
    static const std::map<std::string, std::string> types = {{"bin", "application/octet-stream"},
                                                             {"css", "text/css"},
                                                             {"gif", "image/gif"},
                                                             {"gz", "application/gzip"},
                                                             {"htm", "text/html"},
                                                             {"html", "text/html"},
                                                             {"jpeg", "image/jpeg"},
                                                             {"jpg", "image/jpeg"},
                                                             {"js", "application/javascript"},
                                                             {"json", "application/json"},
                                                             {"mp3", "audio/mpeg"},
                                                             {"mp4", "video/mp4"},
                                                             {"pdf", "application/pdf"},
                                                             {"png", "image/png"},
                                                             {"svg", "image/svg+xml"},
                                                             {"txt", "text/plain"},
                                                             {"xml", "text/xml"},
                                                             {"zip", "application/zip"}};
    const auto slash = key.find_last_of('/');
    const auto dot = key.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string extension = key.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto it = types.find(extension);
        if (it != types.end())
            return it->second;
    }
    return "application/octet-stream";
}

} // namespace OSS
} // namespace AlibabaCloud
