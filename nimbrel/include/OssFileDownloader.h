#pragma once

#include "NimbrelExport.h"
#include "StorageJob_p.h"

#include <QString>
#include <QThread>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Nimbrel {

// Fetches one object of the configured bucket into a local file on its own thread.
class NIMBREL_EXPORT OssFileDownloader : public QThread
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

    OssFileDownloader();
    ~OssFileDownloader() override;

    void setConfigFileName(const std::string& configFileName);
    bool startDownloadFile(const std::string& remoteFileName, const std::string& localFileName);
    // Cancels a running transfer and returns once the job has ended (from a
    // slot of the job's own signal: without waiting for it); no signal and no
    // write of the local file follows.
    bool stopDownloadFile();

    static void DownloadProgressCallback(size_t increment, int64_t transfered, int64_t total, void* userData);
    void onSigDownloadProgress(size_t increment, int64_t transfered, int64_t total);

signals:
    void sigFileDownloadProgress(QString remoteFileName, QString localFileName, qint64 fileDownloadedSize,
                                 qint64 fileTotalSize);
    void sigFileDownloadFinished(QString remoteFileName, QString localFileName);
    void sigFileDownloadFailed(QString remoteFileName, QString localFileName, QString errorMessage,
                               OssFileDownloader::OssErrorCode status);

protected:
    void run() override;

private:
    void fail(const std::string& message, OssErrorCode status);

    quint64 remoteFileSize = 0;
    std::string configFileName;
    std::string remoteFileName;
    std::string localFileName;
    StorageJob job;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssFileDownloader::OssErrorCode)
