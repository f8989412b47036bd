#pragma once

#include "alibabacloud/oss/ClientConfiguration.h"
#include "alibabacloud/oss/OssOutcomes.h"
#include "alibabacloud/oss/Types.h"
#include "alibabacloud/oss/auth/CredentialsProvider.h"
#include "alibabacloud/oss/auth/SimpleCredentialsProvider.h"
#include "alibabacloud/oss/model/AbortMultipartUploadRequest.h"
#include "alibabacloud/oss/model/CompleteMultipartUploadRequest.h"
#include "alibabacloud/oss/model/DeleteObjectsRequest.h"
#include "alibabacloud/oss/model/GetObjectRequest.h"
#include "alibabacloud/oss/model/InitiateMultipartUploadRequest.h"
#include "alibabacloud/oss/model/ListObjectsRequest.h"
#include "alibabacloud/oss/model/PutObjectRequest.h"
#include "alibabacloud/oss/model/UploadPartRequest.h"

#include <memory>
#include <string>

namespace AlibabaCloud {
namespace OSS {

// Process-wide set-up and tear-down of the transport; call once each.
void InitializeSdk();
void ShutdownSdk();

class OssClientImpl;

// A client of one endpoint. Thread-safe: several threads may share one
// instance. No call throws; every failure comes back in the outcome.
class OssClient
{
public:
    OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
              const ClientConfiguration& configuration);
    OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
              const std::string& securityToken, const ClientConfiguration& configuration);
    OssClient(const std::string& endpoint, const Credentials& credentials, const ClientConfiguration& configuration);
    OssClient(const std::string& endpoint, const std::shared_ptr<CredentialsProvider>& credentialsProvider,
              const ClientConfiguration& configuration);
    ~OssClient();

    OssClient(const OssClient&) = delete;
    OssClient& operator=(const OssClient&) = delete;

    ListObjectOutcome ListObjects(const std::string& bucket) const;
    ListObjectOutcome ListObjects(const std::string& bucket, const std::string& prefix) const;
    ListObjectOutcome ListObjects(const ListObjectsRequest& request) const;

    GetObjectOutcome GetObject(const std::string& bucket, const std::string& key) const;
    GetObjectOutcome GetObject(const GetObjectRequest& request) const;

    PutObjectOutcome PutObject(const std::string& bucket, const std::string& key,
                               const std::shared_ptr<std::iostream>& content) const;
    PutObjectOutcome PutObject(const PutObjectRequest& request) const;

    InitiateMultipartUploadOutcome InitiateMultipartUpload(const InitiateMultipartUploadRequest& request) const;
    PutObjectOutcome UploadPart(const UploadPartRequest& request) const;
    CompleteMultipartUploadOutcome CompleteMultipartUpload(const CompleteMultipartUploadRequest& request) const;
    VoidOutcome AbortMultipartUpload(const AbortMultipartUploadRequest& request) const;

    DeleteObjectsOutcome DeleteObjects(const DeleteObjectsRequest& request) const;

    // From any thread: requests in flight end promptly with a failed outcome
    // ("ClientError:200042"), and later ones fail at once, until EnableRequest().
    void DisableRequest();
    void EnableRequest();

private:
    std::unique_ptr<OssClientImpl> impl_;
};

} // namespace OSS
} // namespace AlibabaCloud
