#include "alibabacloud/oss/OssClient.h"

#include "OssClientImpl.h"

#include <curl/curl.h>

#include <exception>

namespace AlibabaCloud {
namespace OSS {

namespace {

// No exception leaves a call: whatever escapes becomes a failed outcome.
template <typename O, typename F>
O guarded(F&& call)
{
    try {
        return call();
    } catch (const std::exception& e) {
        return O(OssError("ClientError:Exception", e.what()));
    } catch (...) {
        return O(OssError("ClientError:Exception", "Unknown exception."));
    }
}

} // namespace

void InitializeSdk()
{
    curl_global_init(CURL_GLOBAL_ALL);
}

void ShutdownSdk()
{
    curl_global_cleanup();
}

OssClient::OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
                     const ClientConfiguration& configuration)
    : OssClient(endpoint, accessKeyId, accessKeySecret, "", configuration)
{
}

OssClient::OssClient(const std::string& endpoint, const std::string& accessKeyId, const std::string& accessKeySecret,
                     const std::string& securityToken, const ClientConfiguration& configuration)
    : OssClient(endpoint, std::make_shared<SimpleCredentialsProvider>(accessKeyId, accessKeySecret, securityToken),
                configuration)
{
}

OssClient::OssClient(const std::string& endpoint, const Credentials& credentials,
                     const ClientConfiguration& configuration)
    : OssClient(endpoint, std::make_shared<SimpleCredentialsProvider>(credentials), configuration)
{
}

OssClient::OssClient(const std::string& endpoint, const std::shared_ptr<CredentialsProvider>& credentialsProvider,
                     const ClientConfiguration& configuration)
    : impl_(std::make_unique<OssClientImpl>(endpoint, credentialsProvider, configuration))
{
}

OssClient::~OssClient() = default;

ListObjectOutcome OssClient::ListObjects(const std::string& bucket) const
{
    return ListObjects(ListObjectsRequest(bucket));
}

ListObjectOutcome OssClient::ListObjects(const std::string& bucket, const std::string& prefix) const
{
    ListObjectsRequest request(bucket);
    request.setPrefix(prefix);
    return ListObjects(request);
}

ListObjectOutcome OssClient::ListObjects(const ListObjectsRequest& request) const
{
    return guarded<ListObjectOutcome>([&] { return impl_->listObjects(request); });
}

GetObjectOutcome OssClient::GetObject(const std::string& bucket, const std::string& key) const
{
    return GetObject(GetObjectRequest(bucket, key));
}

GetObjectOutcome OssClient::GetObject(const GetObjectRequest& request) const
{
    return guarded<GetObjectOutcome>([&] { return impl_->getObject(request); });
}

PutObjectOutcome OssClient::PutObject(const std::string& bucket, const std::string& key,
                                      const std::shared_ptr<std::iostream>& content) const
{
    return PutObject(PutObjectRequest(bucket, key, content));
}

PutObjectOutcome OssClient::PutObject(const PutObjectRequest& request) const
{
    return guarded<PutObjectOutcome>([&] { return impl_->putObject(request); });
}

InitiateMultipartUploadOutcome OssClient::InitiateMultipartUpload(const InitiateMultipartUploadRequest& request) const
{
    return guarded<InitiateMultipartUploadOutcome>([&] { return impl_->initiateMultipartUpload(request); });
}

PutObjectOutcome OssClient::UploadPart(const UploadPartRequest& request) const
{
    return guarded<PutObjectOutcome>([&] { return impl_->uploadPart(request); });
}

CompleteMultipartUploadOutcome OssClient::CompleteMultipartUpload(const CompleteMultipartUploadRequest& request) const
{
    return guarded<CompleteMultipartUploadOutcome>([&] { return impl_->completeMultipartUpload(request); });
}

VoidOutcome OssClient::AbortMultipartUpload(const AbortMultipartUploadRequest& request) const
{
    return guarded<VoidOutcome>([&] { return impl_->abortMultipartUpload(request); });
}

DeleteObjectsOutcome OssClient::DeleteObjects(const DeleteObjectsRequest& request) const
{
    return guarded<DeleteObjectsOutcome>([&] { return impl_->deleteObjects(request); });
}

void OssClient::DisableRequest()
{
    impl_->setDisabled(true);
}

void OssClient::EnableRequest()
{
    impl_->setDisabled(false);
}

} // namespace OSS
} // namespace AlibabaCloud
