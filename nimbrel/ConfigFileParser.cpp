#include "ConfigFileParser.h"

#include <cstring>

namespace {

// Everything after the first `key` in `line`; false when the line lacks it.
bool valueAfterKey(const std::string& line, const char* key, std::string& value)
{
    const std::string::size_type at = line.find(key);
    if (at == std::string::npos)
        return false;
    value = line.substr(at + std::strlen(key));
    return true;
}

} // namespace

ConfigFileParser::ConfigFileParser() = default;

ConfigFileParser::~ConfigFileParser() = default;

bool ConfigFileParser::ParseOssLoginInfo(const std::string& text, OssLoginInfo& info)
{
    if (text.empty())
        return false;
    std::vector<std::string> lines;
    Stringsplit(std::string(text.c_str()), "\n", lines);
    if (lines.size() < 4)
        return false;
    return valueAfterKey(lines[0], "host=", info.host) && valueAfterKey(lines[1], "bucket=", info.bucket)
           && valueAfterKey(lines[2], "accessId=", info.accessId)
           && valueAfterKey(lines[3], "accessSecret=", info.accessSecret);
}

void ConfigFileParser::Stringsplit(const std::string& text, const std::string& delimiter,
                                   std::vector<std::string>& pieces)
{
    pieces.clear();
    // An empty delimiter would never advance.
    if (text.empty() || delimiter.empty())
        return;
    // With one delimiter appended every piece, the last included, ends in one.
    const std::string work = text + delimiter;
    std::string::size_type start = 0;
    std::string::size_type at;
    while ((at = work.find(delimiter, start)) != std::string::npos) {
        pieces.push_back(work.substr(start, at - start));
        start = at + delimiter.size();
    }
}

void ConfigFileParser::Stringsplit(const std::string& text, char delimiter, std::vector<std::string>& pieces)
{
    Stringsplit(text, std::string(1, delimiter), pieces);
}

bool ConfigFileParser::QuerySoftPackageInfo(const std::string& /*name*/, const std::string& /*version*/,
                                            SoftPackInfo& /*info*/)
{
    return false;
}

bool ConfigFileParser::QueryFwPackageInfo(const std::string& /*product*/, const std::string& /*model*/,
                                          const std::string& /*hardware*/, const std::string& /*firmware*/,
                                          const std::string& /*channel*/, const std::string& /*version*/,
                                          SoftPackInfo& /*info*/)
{
    return false;
}
