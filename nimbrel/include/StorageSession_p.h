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

class StorageJob;

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

    // Decodes and parses the configuration; a failure writes the worker's log
    // line and hands its message to report.
    bool readConfig(const std::string& configFileName, const ConfigFailureTexts& texts,
                    const ConfigFailureReport& report);

    const OssLoginInfo& account() const { return loginInfo; }

    // Builds the client of this job, which leaves the job when the session goes.
    AlibabaCloud::OSS::OssClient* connect(StorageJob& storageJob);
    AlibabaCloud::OSS::OssClient* client() const { return ossClient.get(); }

private:
    ConfigResult decodeConfig(const std::string& configFileName);
    bool parseConfig();

    QuilmAes::Aes aes;
    std::string configText;
    OssLoginInfo loginInfo;
    std::shared_ptr<AlibabaCloud::OSS::CredentialsProvider> credentials;
    std::unique_ptr<AlibabaCloud::OSS::OssClient> ossClient;
    StorageJob* job = nullptr;
};

} // namespace Nimbrel
