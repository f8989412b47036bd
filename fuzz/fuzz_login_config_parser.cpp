// Feeds arbitrary text, zero bytes included, to the login configuration parser.
#include "ConfigFileParser.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    ConfigFileParser parser;
    OssLoginInfo info;
    const bool parsed = parser.ParseOssLoginInfo(text, info);
    // Every value is a tail of the text before its first zero byte.
    const std::string visible(text.c_str());
    if (parsed
        && (visible.find(info.host) == std::string::npos || visible.find(info.accessSecret) == std::string::npos))
        std::abort();

    // The first byte, then the first two, as delimiters of the rest.
    if (size >= 2) {
        std::vector<std::string> pieces;
        const std::string rest = text.substr(2);
        parser.Stringsplit(rest, text[0], pieces);
        size_t total = 0;
        for (const std::string& piece : pieces)
            total += piece.size() + 1;
        if (!rest.empty() && total != rest.size() + 1)
            std::abort();
        parser.Stringsplit(rest, text.substr(0, 2), pieces);
    }
    return 0;
}
