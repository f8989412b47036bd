#pragma once

#include <string>

// The storage account read from the encrypted configuration file.
struct OssLoginInfo
{
    std::string host;
    std::string bucket;
    std::string accessId;
    std::string accessSecret;
};
