#pragma once

#include "alibabacloud/oss/Types.h"

#include <string>

namespace AlibabaCloud {
namespace OSS {

struct ClientConfiguration
{
    ClientConfiguration();

    std::string userAgent;
    // Used when the endpoint carries no scheme of its own.
    Http::Scheme scheme;
    int maxConnections;
    // A transfer in which no byte moves for this long, whatever moved before, is
    // aborted ("ClientError:200028"); connecting has connectTimeoutMs instead.
    long requestTimeoutMs;
    long connectTimeoutMs;
    Http::Scheme proxyScheme;
    std::string proxyHost;
    unsigned int proxyPort;
    std::string proxyUserName;
    std::string proxyPassword;
    bool verifySSL;
    std::string caPath;
    std::string caFile;
    bool isCname;
    bool enableCrc64;
    // After RequestTimeTooSkewed, later requests are signed with the service's clock.
    bool enableDateSkewAdjustment;
};

} // namespace OSS
} // namespace AlibabaCloud
