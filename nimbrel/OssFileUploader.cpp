#include "OssFileUploader.h"

#include "QuilmLog.h"
#include "StorageSession.h"

#include <alibabacloud/oss/OssClient.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include <sys/stat.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

using namespace AlibabaCloud::OSS;

OssFileUploader::OssFileUploader()
    : QThread(nullptr)
{
    qRegisterMetaType<OssErrorCode>(QMetaObject::normalizedType("OssFileUploader::OssErrorCode"));
}

OssFileUploader::~OssFileUploader()
{
    stopUploadFile();
    // A stop from a slot of the job's own signal leaves the job to end later.
    if (isRunning())
        stopControl.awaitJobEnd(*this);
}

void OssFileUploader::setConfigFileName(const std::string& configFileName)
{
    QLOG_ERROR() << "[ OssFileUploader ] setConfigFileName configFileName = " << configFileName.c_str();
    if (!configFileName.empty())
        this->configFileName = configFileName;
}

bool OssFileUploader::SetMultipart(bool multipart)
{
    QLOG_ERROR() << "[ OssFileUploader ] SetMultipart multipart = " << multipart;
    this->multipart = multipart;
    return true;
}

bool OssFileUploader::startUploadFile(const std::string& localFileName, const std::string& remoteFileName)
{
    QLOG_INFO() << "[ OssFileUploader ] start upload localFileName = " << localFileName.c_str();
    QLOG_INFO() << "[ OssFileUploader ] start upload remoteFileName = " << remoteFileName.c_str();
    const QString local = QString::fromLatin1(localFileName.c_str());
    const QString remote = QString::fromLatin1(remoteFileName.c_str());
    if (localFileName.empty() || remoteFileName.empty()) {
        QLOG_ERROR() << "[ OssFileUploader ] localFileName or remoteFileName is empty";
        emit sigFileUploadFailed(local, remote, QStringLiteral("invalid param"), InvalidParameter);
        return false;
    }
    if (isRunning()) {
        QLOG_ERROR() << "[ OssFileUploader ] OssFileUploader is running......";
        emit sigFileUploadFailed(local, remote, QStringLiteral("thread is running"), FileOperationError);
        return false;
    }
    // Only a regular file has a size to upload: a folder opens as well, but its
    // end position is no byte count and would become a part plan of billions of
    // parts; a device has no end, and the open of a named pipe waits for a writer.
    struct stat status;
    int openError = 0;
    if (stat(localFileName.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        openError = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    FILE* file = openError == 0 ? std::fopen(localFileName.c_str(), "r") : nullptr;
    if (!file && openError == 0)
        openError = errno;
    long size = 0;
    if (file) {
        if (std::fseek(file, 0, SEEK_END) != 0)
            openError = errno;
        else
            size = std::ftell(file);
        std::fclose(file);
    }
    if (openError != 0) {
        QLOG_ERROR() << "[ OssFileUploader ] open " << localFileName.c_str() << " failed, and error no = " << openError;
        emit sigFileUploadFailed(local, remote, QStringLiteral("open local file failed"), FileOperationError);
        return false;
    }

    localFileSize = size;
    this->remoteFileName = remoteFileName;
    this->localFileName = localFileName;
    stopControl.reset();
    start(QThread::InheritPriority);
    QLOG_INFO() << "[ OssFileUploader ] thread start run";
    return true;
}

bool OssFileUploader::stopUploadFile()
{
    if (isRunning()) {
        stopControl.requestStop();
        stopControl.awaitJob(*this);
    }
    return true;
}

void OssFileUploader::run()
{
    if (multipart)
        UploadMultiPartFile();
    else
        UploadWholeFile();
}

void OssFileUploader::UploadProgressCallback(size_t increment, int64_t transfered, int64_t total, void* userData)
{
    if (userData)
        static_cast<OssFileUploader*>(userData)->onSigUploadProgress(increment, transfered, total);
}

void OssFileUploader::onSigUploadProgress(size_t, int64_t transfered, int64_t total)
{
    stopControl.emitUnlessStopped([&] {
        emit sigFileUploadProgress(QString::fromLatin1(localFileName.c_str()),
                                   QString::fromLatin1(remoteFileName.c_str()), transfered, total);
    });
}

void OssFileUploader::finish()
{
    stopControl.emitUnlessStopped([&] {
        emit sigFileUploadFinished(QString::fromLatin1(localFileName.c_str()),
                                   QString::fromLatin1(remoteFileName.c_str()));
    });
}

void OssFileUploader::fail(const std::string& message, OssErrorCode status)
{
    stopControl.emitUnlessStopped([&] {
        emit sigFileUploadFailed(QString::fromLatin1(localFileName.c_str()),
                                 QString::fromLatin1(remoteFileName.c_str()), QString::fromLatin1(message.c_str()),
                                 status);
    });
}

OssClient* OssFileUploader::openClient(StorageSession& session, const char* step)
{
    const std::string prefix = std::string("[ OssFileUploader ] ") + step;
    const ConfigFailureTexts texts{
        {prefix + " configFileName is empty......", "Config file name empty"},
        {prefix + " AesDecode fail......", "Config file content error"},
        {prefix + " ParseOssLoginInfo fail......", "Config file content error"},
    };
    const auto report = [this](StorageSession::ConfigResult, const std::string& message) {
        fail(message, ConfigFileError);
    };
    if (!session.readConfig(configFileName, texts, report))
        return nullptr;
    return session.connect(stopControl);
}

bool OssFileUploader::UploadWholeFile()
{
    StorageSession session;
    OssClient* client = openClient(session, "UploadWholeFile");
    if (!client)
        return false;

    bool uploaded = false;
    std::string message;
    {
        std::shared_ptr<std::iostream> content =
            std::make_shared<std::fstream>(localFileName, std::ios_base::in | std::ios_base::binary);
        PutObjectRequest request(session.account().bucket, remoteFileName, content);
        request.setTransferProgress({UploadProgressCallback, this});
        auto outcome = client->PutObject(request);
        uploaded = outcome.isSuccess();
        if (!uploaded)
            message = outcome.error().Message();
    }
    if (!uploaded) {
        QLOG_ERROR() << "[ OssFileUploader ] UploadWholeFile PutObject fail......";
        fail(message, OssServiceError);
        return false;
    }
    QLOG_INFO() << "[ OssFileUploader ] UploadWholeFile PutObject success......";
    finish();
    return true;
}

bool OssFileUploader::UploadMultiPartFile()
{
    StorageSession session;
    OssClient* client = openClient(session, "UploadMultiPartFile");
    if (!client)
        return false;
    const std::string& bucket = session.account().bucket;

    // A refused initiation is not reported by itself: the parts then fail.
    InitiateMultipartUploadRequest initiateRequest(bucket, remoteFileName);
    const std::string uploadId = client->InitiateMultipartUpload(initiateRequest).result().UploadId();

    const uint64_t size = static_cast<uint64_t>(localFileSize);
    const int partCount = static_cast<int>(size / partSize + (size % partSize ? 1 : 0));
    PartList partList;
    for (int partNumber = 1; partNumber <= partCount; ++partNumber) {
        if (stopControl.isStopRequested())
            return false;
        const int64_t offset = partSize * (partNumber - 1);
        const int64_t length = std::min(partSize, localFileSize - offset);
        std::shared_ptr<std::iostream> content =
            std::make_shared<std::fstream>(localFileName, std::ios_base::in | std::ios_base::binary);
        content->seekg(offset, std::ios_base::beg);
        UploadPartRequest request(bucket, remoteFileName, content);
        request.setTransferProgress({UploadProgressCallback, this});
        request.setContentLength(length);
        request.setUploadId(uploadId);
        request.setPartNumber(partNumber);
        auto outcome = client->UploadPart(request);
        if (!outcome.isSuccess()) {
            QLOG_ERROR() << "[ OssFileUploader ] UploadMultiPartFile uploadPartRequest fail......";
            fail(outcome.error().Message(), OssServiceError);
            return false;
        }
        partList.push_back(Part(partNumber, outcome.result().ETag()));
    }

    CompleteMultipartUploadRequest completeRequest(bucket, remoteFileName);
    completeRequest.setTransferProgress({UploadProgressCallback, this});
    completeRequest.setUploadId(uploadId);
    completeRequest.setPartList(partList);
    auto outcome = client->CompleteMultipartUpload(completeRequest);
    if (!outcome.isSuccess()) {
        QLOG_ERROR() << "[ OssFileUploader ] UploadMultiPartFile CompleteMultipartUpload fail......";
        fail(outcome.error().Message(), OssServiceError);
        return false;
    }
    QLOG_INFO() << "[ OssFileUploader ] UploadMultiPartFile CompleteMultipartUpload success......";
    finish();
    return true;
}

} // namespace Nimbrel
