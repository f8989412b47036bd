#pragma once

#include "NimbrelExport.h"
#include "StorageJob_p.h"

#include <QString>
#include <QThread>

#include <cstddef>
#include <cstdint>
#include <string>

namespace AlibabaCloud {
namespace OSS {
class OssClient;
}
} // namespace AlibabaCloud

namespace Nimbrel {

class StorageSession;

// Stores one local file as an object of the configured bucket, whole or in
// parts of 102400 bytes, on its own thread.
class NIMBREL_EXPORT OssFileUploader : public QThread
{
    Q_OBJECT

public:
    enum OssErrorCode {
        OssServiceError = 1,
        FileOperationError = 4,
        ConfigFileError = 5,
        OpenSourceFileError = 6,
        OpenDestFileError = 7,
        InvalidParameter = 8
    };

    static constexpr int64_t partSize = 102400;

    OssFileUploader();
    ~OssFileUploader() override;

    void setConfigFileName(const std::string& configFileName);
    bool SetMultipart(bool multipart);
    bool startUploadFile(const std::string& localFileName, const std::string& remoteFileName);
    // Cancels a running transfer and returns once the job has ended (from a
    // slot of the job's own signal: without waiting for it); no signal follows.
    bool stopUploadFile();

    static void UploadProgressCallback(size_t increment, int64_t transfered, int64_t total, void* userData);
    void onSigUploadProgress(size_t increment, int64_t transfered, int64_t total);

signals:
    void sigFileUploadProgress(QString localFileName, QString remoteFileName, qint64 fileUploadedSize,
                               qint64 fileTotalSize);
    void sigFileUploadFinished(QString localFileName, QString remoteFileName);
    void sigFileUploadFailed(QString localFileName, QString remoteFileName, QString errorMessage,
                             OssFileUploader::OssErrorCode status);

protected:
    void run() override;
    bool UploadWholeFile();
    bool UploadMultiPartFile();

private:
    // Null when the configuration cannot be read (reported) or a stop came first.
    AlibabaCloud::OSS::OssClient* openClient(StorageSession& session, const char* step);
    void finish();
    void fail(const std::string& message, OssErrorCode status);

    bool multipart = false;
    std::string configFileName;
    std::string localFileName;
    std::string remoteFileName;
    int64_t localFileSize = 0;
    StorageJob job;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssFileUploader::OssErrorCode)
