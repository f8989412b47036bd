#include "OssFileWork.h"

#include "QuilmLog.h"
#include "StorageSession_p.h"

#include <alibabacloud/oss/OssClient.h>

#include <QMetaObject>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

using namespace AlibabaCloud::OSS;

static const ConfigFailureTexts configFailureTexts{
    {"[ OssFileWork ] run() config file name is empty......", "config file name is empty..."},
    {"[ OssFileWork ] run() config file AesDecode fail......", "config file AesDecode fail..."},
    {"[ OssFileWork ] run() ParseOssLoginInfo fail......", "config content is error..."},
};

OssFileWork::OssFileWork()
    : QThread(nullptr)
    , job(*this)
{
    StorageJob::registerCode<OssErrorCode>("OssFileWork::OssErrorCode");
}

OssFileWork::~OssFileWork()
{
    job.stopAndAwaitEnd();
}

void OssFileWork::setConfigFileName(const std::string& configFileName)
{
    QLOG_ERROR() << "[ OssFileWork ] setConfigFileName configFileName = " << configFileName.c_str();
    if (!configFileName.empty())
        this->configFileName = configFileName;
}

bool OssFileWork::startListFiles(const std::string& rootDirName)
{
    QLOG_ERROR() << "[ OssFileWork ] startListFiles rootDirName = " << rootDirName.c_str();
    if (rootDirName.empty() || job.isBusy())
        return false;
    this->rootDirName = rootDirName;
    return startWork(ListFiles);
}

bool OssFileWork::startListFileInfo(const std::string& sourceFileName)
{
    QLOG_ERROR() << "[ OssFileWork ] startListFileInfo sourceFileName = " << sourceFileName.c_str();
    if (sourceFileName.empty() || job.isBusy())
        return false;
    this->sourceFileName = sourceFileName;
    return startWork(ListFileInfo);
}

bool OssFileWork::startRemoveFiles(const std::vector<std::string>& vectSourceFileNames)
{
    QLOG_ERROR() << "[ OssFileWork ] startRemoveFiles vectSourceFileNames.size = "
                 << static_cast<qulonglong>(vectSourceFileNames.size());
    if (vectSourceFileNames.empty() || job.isBusy())
        return false;
    this->vectSourceFileNames = vectSourceFileNames;
    return startWork(RemoveFiles);
}

bool OssFileWork::startWork(WorkType type)
{
    workType = type;
    job.start();
    return true;
}

bool OssFileWork::stopFileWork()
{
    QLOG_ERROR() << "[ OssFileWork ] stopFileWork called";
    job.stop();
    return true;
}

bool OssFileWork::getAllFilesInfo(std::vector<OssFileInfo>& filesInfo)
{
    filesInfo = this->filesInfo;
    return true;
}

void OssFileWork::run()
{
    job.beginJob();
    StorageSession session;
    const auto report = [this](StorageSession::ConfigResult failure, const std::string& message) {
        // An empty name is reported without a file.
        const QString file = failure == StorageSession::ConfigPathEmpty ? QString() : QString(configFileName.c_str());
        job.emitLastUnlessStopped(
            [&] { emit sigFileWorkFailed(workType, file, -1, -1, QString::fromStdString(message), ConfigFileError); });
    };
    if (!job.connect(session, configFileName, configFailureTexts, report))
        return;

    switch (workType) {
    case ListFiles: listFiles(session); break;
    case ListFileInfo: listFileInfo(session); break;
    case RemoveFiles: removeFiles(session); break;
    default:
        job.emitLastUnlessStopped([&] {
            emit sigFileWorkFailed(workType, QString(), -1, -1, QStringLiteral("oss work type is invalid..."),
                                   InvalidParameter);
        });
        break;
    }
}

static void logListFailure(const OssError& error)
{
    QLOG_ERROR() << "[ OssFileWork ] run() ListObjects fail:"
                 << ",code:" << error.Code().c_str() << ",message:" << error.Message().c_str()
                 << ",requestId:" << error.RequestId().c_str();
}

void OssFileWork::listFiles(StorageSession& session)
{
    filesInfo.clear();
    std::string marker;
    for (;;) {
        if (job.isStopRequested())
            return;
        ListObjectsRequest request(session.account().bucket);
        request.setDelimiter("/");
        request.setPrefix(rootDirName + "/");
        request.setMarker(marker);
        auto outcome = session.client()->ListObjects(request);
        if (!outcome.isSuccess()) {
            logListFailure(outcome.error());
            job.emitLastUnlessStopped([&] {
                emit sigFileWorkFailed(ListFiles, QString(rootDirName.c_str()), -1, -1,
                                       QStringLiteral("list object failed..."), OssServiceError);
            });
            return;
        }
        const ListObjectsResult& page = outcome.result();
        // Keys come in byte order after the marker: a next marker that is
        // not beyond it would ask for the same pages again, without end.
        if (page.IsTruncated() && page.NextMarker() <= marker) {
            QLOG_ERROR() << "[ OssFileWork ] run() ListObjects fail: the next marker does not move the listing forward"
                         << ",marker:" << marker.c_str() << ",nextMarker:" << page.NextMarker().c_str();
            job.emitLastUnlessStopped([&] {
                emit sigFileWorkFailed(ListFiles, QString(rootDirName.c_str()), -1, -1,
                                       QStringLiteral("list object failed: the next marker does not move forward..."),
                                       OssServiceError);
            });
            return;
        }
        for (const auto& summary : page.ObjectSummarys())
            filesInfo.push_back({summary.Key(), summary.LastModified(), summary.Size()});
        marker = page.NextMarker();
        if (!page.IsTruncated())
            break;
    }
    QLOG_ERROR() << "[ OssFileWork ] run() ListObjects success.";
    job.emitLastUnlessStopped([&] { emit sigFileWorkFinished(ListFiles, QString(rootDirName.c_str()), 0, 0); });
}

// The object's own key sorts before every longer key with the same prefix,
// so the first entry of a one-entry page under that prefix is the object.
void OssFileWork::listFileInfo(StorageSession& session)
{
    filesInfo.clear();
    ListObjectsRequest request(session.account().bucket);
    request.setPrefix(sourceFileName);
    request.setMaxKeys(1);
    auto outcome = session.client()->ListObjects(request);
    const QString name(sourceFileName.c_str());
    if (!outcome.isSuccess()) {
        logListFailure(outcome.error());
        job.emitLastUnlessStopped([&] {
            emit sigFileWorkFailed(ListFileInfo, name, -1, -1, QStringLiteral("list object failed..."),
                                   OssServiceError);
        });
        return;
    }
    const auto& summaries = outcome.result().ObjectSummarys();
    if (summaries.empty() || summaries.front().Key() != sourceFileName) {
        QLOG_ERROR() << "[ OssFileWork ] run() ListObjects found no object" << sourceFileName.c_str();
        job.emitLastUnlessStopped([&] {
            emit sigFileWorkFailed(ListFileInfo, name, -1, -1, QStringLiteral("object does not exist..."),
                                   OssServiceError);
        });
        return;
    }
    const auto& summary = summaries.front();
    filesInfo.push_back({summary.Key(), summary.LastModified(), summary.Size()});
    QLOG_ERROR() << "[ OssFileWork ] run() ListObjects success.";
    job.emitLastUnlessStopped([&] { emit sigFileWorkFinished(ListFileInfo, name, 0, 1); });
}

// Every name is deleted in turn and reported by its own finished or failed
// signal; the closing finished signal follows only when all were deleted.
void OssFileWork::removeFiles(StorageSession& session)
{
    const qint64 count = static_cast<qint64>(vectSourceFileNames.size());
    bool allDeleted = true;
    DeleteObjectsRequest request(session.account().bucket);
    for (qint64 index = 0; index < count; ++index) {
        if (job.isStopRequested())
            return;
        const std::string& fileName = vectSourceFileNames[static_cast<size_t>(index)];
        request.clearKeyList();
        request.addKey(fileName);
        auto outcome = session.client()->DeleteObjects(request);
        const QString name(fileName.c_str());
        const bool deleted = outcome.isSuccess();
        allDeleted = allDeleted && deleted;
        // Without the closing signal, the last name's signal ends the job.
        const bool lastSignal = index == count - 1 && !allDeleted;
        const auto report = [&](auto emitSignal) {
            if (lastSignal)
                job.emitLastUnlessStopped(emitSignal);
            else
                job.emitUnlessStopped(emitSignal);
        };
        if (deleted) {
            report([&] { emit sigFileWorkFinished(RemoveFiles, name, index, count); });
            continue;
        }
        const OssError& error = outcome.error();
        QLOG_ERROR() << "[ OssFileWork ] run() DeleteObjects fail:"
                     << ",code:" << error.Code().c_str() << ",message:" << error.Message().c_str()
                     << ",requestId:" << error.RequestId().c_str();
        report([&] {
            emit sigFileWorkFailed(RemoveFiles, name, index, count, QStringLiteral("delete object failed..."),
                                   OssServiceError);
        });
    }
    if (!allDeleted || job.isStopRequested())
        return;
    QLOG_ERROR() << "[ OssFileWork ] run() DeleteObjects success.";
    job.emitLastUnlessStopped([&] { emit sigFileWorkFinished(RemoveFiles, QString(rootDirName.c_str()), 0, 0); });
}

} // namespace Nimbrel
