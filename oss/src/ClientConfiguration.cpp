#include "alibabacloud/oss/ClientConfiguration.h"

namespace AlibabaCloud {
namespace OSS {

ClientConfiguration::ClientConfiguration()
    : userAgent("aliyun-sdk-cpp/1.9.2 (Linux)")
    , scheme(Http::HTTP)
    , maxConnections(16)
    , requestTimeoutMs(10000)
    , connectTimeoutMs(5000)
    , proxyScheme(Http::HTTP)
    , proxyPort(0)
    , verifySSL(true)
    , isCname(false)
    , enableCrc64(true)
    , enableDateSkewAdjustment(true)
{
}

} // namespace OSS
} // namespace AlibabaCloud
