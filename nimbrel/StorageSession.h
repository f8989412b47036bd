#pragma once

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <memory>
#include <string>

namespace AlibabaCloud {
namespace OSS {
class CredentialsProvider;
class OssClient;
}
}

namespace Nimbrel {

class StopControl;

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

    // Both steps in one; the monitor calls them one by one.
    ConfigResult readConfig(const std::string& configFileName);
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

}
