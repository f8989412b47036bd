#pragma once

#include "alibabacloud/oss/auth/CredentialsProvider.h"

namespace AlibabaCloud {
namespace OSS {

// Fixed credentials; an empty security token means long-term keys.
class SimpleCredentialsProvider : public CredentialsProvider
{
public:
    explicit SimpleCredentialsProvider(const Credentials& credentials)
        : credentials_(credentials)
    {
    }
    SimpleCredentialsProvider(const std::string& accessKeyId, const std::string& accessKeySecret,
                              const std::string& securityToken = "")
        : credentials_(accessKeyId, accessKeySecret, securityToken)
    {
    }

    Credentials getCredentials() override { return credentials_; }

private:
    Credentials credentials_;
};

} // namespace OSS
} // namespace AlibabaCloud
