#include "OssFileUploader.h"

#include "QuilmLog.h"
#include "RegularFile.h"
#include "StorageSession_p.h"

#include <alibabacloud/oss/OssClient.h>

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

using namespace AlibabaCloud::OSS;

OssFileUploader::OssFileUploader()
    : QThread(nullptr)
    , job(*this)
{
    StorageJob::registerCode<OssErrorCode>("OssFileUploader::OssErrorCode");
}

OssFileUploader::~OssFileUploader()
{
    job.stopAndAwaitEnd();
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
    if (job.isBusy()) {
        QLOG_ERROR() << "[ OssFileUploader ] OssFileUploader is running......";
        emit sigFileUploadFailed(local, remote, QStringLiteral("thread is running"), FileOperationError);
        return false;
    }
    // Only a regular file has a size to upload: a folder's end position is no
    // byte count and would become a part plan of billions of parts; a device
    // has no end, and the open of a named pipe would wait for a writer.
    int openError = 0;
    int64_t size = 0;
    const int fd = RegularFile::openForReading(localFileName);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0)
        openError = errno;
    else
        size = status.st_size;
    if (fd >= 0)
        ::close(fd);
    if (openError != 0) {
        QLOG_ERROR() << "[ OssFileUploader ] open " << localFileName.c_str() << " failed, and error no = " << openError;
        emit sigFileUploadFailed(local, remote, QStringLiteral("open local file failed"), FileOperationError);
        return false;
    }

    localFileSize = size;
    this->remoteFileName = remoteFileName;
    this->localFileName = localFileName;
    job.start();
    QLOG_INFO() << "[ OssFileUploader ] thread start run";
    return true;
}

bool OssFileUploader::stopUploadFile()
{
    job.stop();
    return true;
}

void OssFileUploader::run()
{
    job.beginJob();
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
    job.emitUnlessStopped([&] {
        emit sigFileUploadProgress(QString::fromLatin1(localFileName.c_str()),
                                   QString::fromLatin1(remoteFileName.c_str()), transfered, total);
    });
}

void OssFileUploader::finish()
{
    job.emitLastUnlessStopped([&] {
        emit sigFileUploadFinished(QString::fromLatin1(localFileName.c_str()),
                                   QString::fromLatin1(remoteFileName.c_str()));
    });
}

void OssFileUploader::fail(const std::string& message, OssErrorCode status)
{
    job.emitLastUnlessStopped([&] {
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
    return job.connect(session, configFileName, texts, report);
}

namespace {

// The local file as the job reads it, opened as the start checked it: without
// blocking and only as a regular file, so a name swapped for a named pipe in
// the meantime fails the request instead of hanging the job. The stream opens
// the checked file through its descriptor; it is not open when that failed.
std::shared_ptr<std::iostream> openLocalContent(const std::string& path)
{
    auto content = std::make_shared<std::fstream>();
    const int fd = RegularFile::openForReading(path);
    if (fd >= 0) {
        content->open("/dev/fd/" + std::to_string(fd), std::ios_base::in | std::ios_base::binary);
        ::close(fd);
    }
    return content;
}

} // namespace

bool OssFileUploader::UploadWholeFile()
{
    StorageSession session;
    OssClient* client = openClient(session, "UploadWholeFile");
    if (!client)
        return false;

    bool uploaded = false;
    std::string message;
    {
        std::shared_ptr<std::iostream> content = openLocalContent(localFileName);
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
        if (job.isStopRequested())
            return false;
        const int64_t offset = partSize * (partNumber - 1);
        const int64_t length = std::min(partSize, localFileSize - offset);
        std::shared_ptr<std::iostream> content = openLocalContent(localFileName);
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
