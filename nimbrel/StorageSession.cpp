#include "StorageSession.h"

#include "StopControl.h"

#include <alibabacloud/oss/OssClient.h>

namespace Nimbrel {

StorageSession::StorageSession() = default;

StorageSession::~StorageSession()
{
    if (control)
        control->detach();
    // The client goes before its credentials.
    ossClient.reset();
    credentials.reset();
}

StorageSession::ConfigResult StorageSession::readConfig(const std::string& configFileName)
{
    const ConfigResult decoded = decodeConfig(configFileName);
    if (decoded != ConfigRead)
        return decoded;
    return parseConfig() ? ConfigRead : ConfigParseFailed;
}

StorageSession::ConfigResult StorageSession::decodeConfig(const std::string& configFileName)
{
    if (configFileName.empty())
        return ConfigPathEmpty;
    unsigned char key[16];
    std::copy(std::begin(NIMBREL_CONFIG_KEY), std::begin(NIMBREL_CONFIG_KEY) + 16, key);
    if (aes.AesDecode(configFileName, key, 16) != 0 || !aes.decodeOutput)
        return ConfigDecodeFailed;
    configText = reinterpret_cast<const char*>(aes.decodeOutput.get());
    return ConfigRead;
}

bool StorageSession::parseConfig()
{
    return ConfigFileParser().ParseOssLoginInfo(configText, loginInfo);
}

AlibabaCloud::OSS::OssClient* StorageSession::connect(StopControl& stopControl)
{
    using namespace AlibabaCloud::OSS;
    ClientConfiguration configuration;
    credentials = std::make_shared<SimpleCredentialsProvider>(loginInfo.accessId, loginInfo.accessSecret, "");
    ossClient = std::make_unique<OssClient>(loginInfo.host, credentials, configuration);
    control = &stopControl;
    return stopControl.attach(ossClient.get()) ? ossClient.get() : nullptr;
}

}
