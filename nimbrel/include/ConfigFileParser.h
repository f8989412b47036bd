#pragma once

#include "NimbrelExport.h"
#include "OssLoginInfo.h"
#include "SoftPackInfo.h"

#include <string>
#include <vector>

// The one AES-128 key of the library: it enciphers the configuration file and
// the block-record files.
inline constexpr unsigned char NIMBREL_CONFIG_KEY[16] = {'Q', 'e', '7', 'T', 'o', 'v', 'r', 'i',
                                                         'n', '2', 'W', 'y', '8', 'K', 'a', 's'};
inline constexpr int NIMBREL_CONFIG_KEY_LENGTH = 16;

// Reads the deciphered configuration text: four lines host=, bucket=,
// accessId=, accessSecret=.
class NIMBREL_EXPORT ConfigFileParser
{
public:
    ConfigFileParser();
    ~ConfigFileParser();

    bool ParseOssLoginInfo(const std::string& text, OssLoginInfo& info);

    // Spelt so: hosts call these by this name.
    void Stringsplit(const std::string& text, const std::string& delimiter, std::vector<std::string>& pieces);
    void Stringsplit(const std::string& text, char delimiter, std::vector<std::string>& pieces);

    // Always false, the record unchanged; kept for hosts that call them.
    bool QuerySoftPackageInfo(const std::string& name, const std::string& version, SoftPackInfo& info);
    bool QueryFwPackageInfo(const std::string& product, const std::string& model, const std::string& hardware,
                            const std::string& firmware, const std::string& channel, const std::string& version,
                            SoftPackInfo& info);
};
