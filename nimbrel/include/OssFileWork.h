#pragma once

#include "NimbrelExport.h"
#include "StorageJob_p.h"

#include <QString>
#include <QThread>

#include <cstdint>
#include <string>
#include <vector>

namespace Nimbrel {

class StorageSession;

// Lists a remote directory page by page, looks up one object, or deletes
// objects by name, one job at a time on its own thread.
class NIMBREL_EXPORT OssFileWork : public QThread
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

    enum WorkType { None = -1, ListFiles = 0, ListFileInfo = 1, RemoveFiles = 2 };

    struct OssFileInfo
    {
        std::string fileName;
        std::string lastModified;
        int64_t fileSize = 0;
    };

    OssFileWork();
    // Asks a running job to end and waits for it.
    ~OssFileWork() override;

    void setConfigFileName(const std::string& configFileName);
    bool startListFiles(const std::string& rootDirName);
    bool startListFileInfo(const std::string& sourceFileName);
    bool startRemoveFiles(const std::vector<std::string>& vectSourceFileNames);
    // Cancels the request in flight and returns once the job has ended (from
    // a slot of the job's own signal: without waiting for it); no signal follows.
    bool stopFileWork();
    bool getAllFilesInfo(std::vector<OssFileInfo>& filesInfo);

signals:
    void sigFileWorkProgress(int workType, QString sourceFileName, qint64 currentItemIndex, qint64 totalItemCount);
    void sigFileWorkFinished(int workType, QString sourceFileName, qint64 currentItemIndex, qint64 totalItemCount);
    void sigFileWorkFailed(int workType, QString sourceFileName, qint64 currentItemIndex, qint64 totalItemCount,
                           QString errorMessage, OssFileWork::OssErrorCode status);

protected:
    void run() override;

private:
    bool startWork(WorkType type);
    void listFiles(StorageSession& session);
    void listFileInfo(StorageSession& session);
    void removeFiles(StorageSession& session);

    int workType = None;
    std::string configFileName;
    std::string rootDirName;
    std::string sourceFileName;
    std::vector<std::string> vectSourceFileNames;
    StorageJob job;
    std::vector<OssFileInfo> filesInfo;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssFileWork::OssErrorCode)
