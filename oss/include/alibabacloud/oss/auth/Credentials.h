#pragma once

#include <string>

namespace AlibabaCloud {
namespace OSS {

class Credentials
{
public:
    Credentials(const std::string& accessKeyId, const std::string& accessKeySecret,
                const std::string& sessionToken = "")
        : accessKeyId_(accessKeyId)
        , accessKeySecret_(accessKeySecret)
        , sessionToken_(sessionToken)
    {
    }

    const std::string& AccessKeyId() const { return accessKeyId_; }
    const std::string& AccessKeySecret() const { return accessKeySecret_; }
    const std::string& SessionToken() const { return sessionToken_; }

private:
    std::string accessKeyId_;
    std::string accessKeySecret_;
    std::string sessionToken_;
};

} // namespace OSS
} // namespace AlibabaCloud
