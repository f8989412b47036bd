#pragma once

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <functional>
#include <memory>
#include <string>

namespace AlibabaCloud {
namespace OSS {
class CredentialsProvider;
class OssClient;
} // namespace OSS
} // namespace AlibabaCloud

namespace Nimbrel {

class StopControl;

// What one worker writes to the log and reports for each way its
// configuration read fails.
struct ConfigFailureTexts
{
    struct Text
    {
        std::string logLine;
        std::string message;
    };
    Text pathEmpty;
    Text decodeFailed;
    Text parseFailed;
};

// What one storage job holds from its configuration read to its end: the
// cipher, the decoded text, the account and the storage client.
class StorageSession
{
public:
    enum ConfigResult { ConfigRead, ConfigPathEmpty, ConfigDecodeFailed, ConfigParseFailed };

    StorageSession();
    ~StorageSession();
    StorageSession(const StorageSession&) = delete;
    StorageSession& operator=(const StorageSession&) = delete;

    using ConfigFailureReport = std::function<void(ConfigResult failure, const std::string& message)>;

    // Both steps in one, for the workers: a failure writes the worker's log
    // line and hands its message to report. The monitor calls them one by one.
    bool readConfig(const std::string& configFileName, const ConfigFailureTexts& texts,
                    const ConfigFailureReport& report);
    ConfigResult decodeConfig(const std::string& configFileName);
    bool parseConfig();

    const OssLoginInfo& account() const { return loginInfo; }

    // Builds the client of this job and hands it to the stop control; null
    // when a stop was requested before.
    AlibabaCloud::OSS::OssClient* connect(StopControl& stopControl);
    AlibabaCloud::OSS::OssClient* client() const { return ossClient.get(); }

private:
    QuilmAes::Aes aes;
    std::string configText;
    OssLoginInfo loginInfo;
    std::shared_ptr<AlibabaCloud::OSS::CredentialsProvider> credentials;
    std::unique_ptr<AlibabaCloud::OSS::OssClient> ossClient;
    StopControl* control = nullptr;
};

} // namespace Nimbrel
