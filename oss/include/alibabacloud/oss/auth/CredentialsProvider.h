#pragma once

#include "alibabacloud/oss/auth/Credentials.h"

namespace AlibabaCloud {
namespace OSS {

class CredentialsProvider
{
public:
    virtual ~CredentialsProvider() = default;
    virtual Credentials getCredentials() = 0;
};

} // namespace OSS
} // namespace AlibabaCloud
