#pragma once

#include "CurlTransport.h"
#include "Signer.h"
#include "Url.h"

#include "alibabacloud/oss/OssClient.h"

#include <atomic>
#include <memory>

namespace AlibabaCloud {
namespace OSS {

class OssClientImpl
{
public:
    OssClientImpl(const std::string& endpoint, const std::shared_ptr<CredentialsProvider>& credentialsProvider,
                  const ClientConfiguration& configuration);

    ListObjectOutcome listObjects(const ListObjectsRequest& request);
    GetObjectOutcome getObject(const GetObjectRequest& request);
    PutObjectOutcome putObject(const PutObjectRequest& request);
    InitiateMultipartUploadOutcome initiateMultipartUpload(const InitiateMultipartUploadRequest& request);
    PutObjectOutcome uploadPart(const UploadPartRequest& request);
    CompleteMultipartUploadOutcome completeMultipartUpload(const CompleteMultipartUploadRequest& request);
    VoidOutcome abortMultipartUpload(const AbortMultipartUploadRequest& request);
    DeleteObjectsOutcome deleteObjects(const DeleteObjectsRequest& request);

    void setDisabled(bool disabled) { disabled_ = disabled; }

private:
    using ResponseOutcome = Outcome<OssError, HttpResponse>;

    // Signs and sends; a transport failure or a non-2xx answer becomes the error.
    ResponseOutcome send(HttpRequest& request, const std::string& bucket, const std::string& key,
                         const ParameterCollection& parameters);
    std::string url(const std::string& bucket, const std::string& key, const ParameterCollection& parameters) const;
    OssError serviceError(const HttpResponse& response);
    OssError checkUploadCrc(const HttpResponse& response) const;
    static bool setStreamBody(HttpRequest& request, const std::shared_ptr<std::iostream>& content, bool hasLength,
                              int64_t length, OssError& error);
    static void addMetaData(HttpRequest& request, const ObjectMetaData& metaData, const std::string& key);

    Url::Endpoint endpoint_;
    std::shared_ptr<CredentialsProvider> credentialsProvider_;
    ClientConfiguration configuration_;
    CurlTransport transport_;
    std::atomic<bool> disabled_{false};
    // Service clock minus ours, learnt from RequestTimeTooSkewed.
    std::atomic<long long> clockOffsetSeconds_{0};
};

} // namespace OSS
} // namespace AlibabaCloud
