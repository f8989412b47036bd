#include "StorageSession_p.h"

#include "QuilmLog.h"
#include "RegularFile.h"
#include "StorageJob_p.h"

#include <alibabacloud/oss/OssClient.h>

namespace Nimbrel {

namespace {

const int64_t maxConfigSize = 1024 * 1024;

} // namespace

StorageSession::StorageSession() = default;

StorageSession::~StorageSession()
{
    if (job)
        job->detach();
    // The client goes before its credentials.
    ossClient.reset();
    credentials.reset();
}

bool StorageSession::readConfig(const std::string& configFileName, const ConfigFailureTexts& texts,
                                const ConfigFailureReport& report)
{
    ConfigResult result = decodeConfig(configFileName);
    if (result == ConfigRead && !parseConfig())
        result = ConfigParseFailed;

    const ConfigFailureTexts::Text* failure = nullptr;
    switch (result) {
    case ConfigRead: return true;
    case ConfigPathEmpty: failure = &texts.pathEmpty; break;
    case ConfigDecodeFailed: failure = &texts.decodeFailed; break;
    case ConfigParseFailed: failure = &texts.parseFailed; break;
    }
    QLOG_ERROR() << failure->logLine.c_str();
    report(result, failure->message);
    return false;
}

StorageSession::ConfigResult StorageSession::decodeConfig(const std::string& configFileName)
{
    if (configFileName.empty())
        return ConfigPathEmpty;
    unsigned char key[16];
    std::copy(std::begin(NIMBREL_CONFIG_KEY), std::begin(NIMBREL_CONFIG_KEY) + 16, key);
    // Read without blocking and only from a regular file, so a named pipe
    // fails at once; four account lines take far less than the limit.
    std::string cipherText;
    if (!RegularFile::readAll(configFileName, maxConfigSize, cipherText) || cipherText.empty()
        || cipherText.size() % 16 != 0)
        return ConfigDecodeFailed;
    if (aes.AesDecode(reinterpret_cast<unsigned char*>(&cipherText[0]), static_cast<int>(cipherText.size()), key, 16)
            != 0
        || !aes.decodeOutput)
        return ConfigDecodeFailed;
    configText = reinterpret_cast<const char*>(aes.decodeOutput.get());
    return ConfigRead;
}

bool StorageSession::parseConfig()
{
    return ConfigFileParser().ParseOssLoginInfo(configText, loginInfo);
}

AlibabaCloud::OSS::OssClient* StorageSession::connect(StorageJob& storageJob)
{
    using namespace AlibabaCloud::OSS;
    ClientConfiguration configuration;
    credentials = std::make_shared<SimpleCredentialsProvider>(loginInfo.accessId, loginInfo.accessSecret, "");
    ossClient = std::make_unique<OssClient>(loginInfo.host, credentials, configuration);
    job = &storageJob;
    return ossClient.get();
}

} // namespace Nimbrel
