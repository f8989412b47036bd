#pragma once

#include "NimbrelExport.h"
#include "StorageJob_p.h"

#include <QString>
#include <QThread>

#include <string>

class QProcess;

namespace Nimbrel {

// Pings the storage host of the configured account over and over and reports
// "fail" once no ping was answered for longer than the time-out.
class NIMBREL_EXPORT OssServerStatus : public QThread
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

    OssServerStatus();
    ~OssServerStatus() override;

    void setConfigFileName(const std::string& configFileName, int timeoutMilliseconds);
    bool startDetect();
    // Returns once the current ping is over and the job has ended, or at
    // once from the slot of the job's own signal; no signal follows.
    bool stopDetect();
    bool isHostConnected(const QString& host);

signals:
    void sigNetworkStatus(QString netStatus);

protected:
    void run() override;

private:
    std::string configFileName;
    quint64 timeoutMilliseconds = 3000;
    StorageJob job;
    QProcess* pingProcess = nullptr;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssServerStatus::OssErrorCode)
