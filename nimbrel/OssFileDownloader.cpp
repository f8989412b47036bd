#include "OssFileDownloader.h"

#include "LocalFileStream.h"
#include "QuilmLog.h"
#include "StorageSession_p.h"

#include <alibabacloud/oss/OssClient.h>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

using namespace AlibabaCloud::OSS;

static const ConfigFailureTexts configFailureTexts{
    {"[ OssFileDownloader ] Run configFileName is empty......", "Config file name empty"},
    {"[ OssFileDownloader ] Run AesDecode fail......", "Config file content error"},
    {"[ OssFileDownloader ] Run ParseOssLoginInfo fail......", "Config file content error"},
};

OssFileDownloader::OssFileDownloader()
    : QThread(nullptr)
    , job(*this)
{
    StorageJob::registerCode<OssErrorCode>("OssFileDownloader::OssErrorCode");
}

OssFileDownloader::~OssFileDownloader()
{
    job.stopAndAwaitEnd();
}

void OssFileDownloader::setConfigFileName(const std::string& configFileName)
{
    QLOG_ERROR() << "[ OssFileDownloader ] setConfigFileName configFileName = " << configFileName.c_str();
    if (!configFileName.empty())
        this->configFileName = configFileName;
}

bool OssFileDownloader::startDownloadFile(const std::string& remoteFileName, const std::string& localFileName)
{
    QLOG_INFO() << "[ OssFileDownloader ] start download localFileName = " << localFileName.c_str();
    QLOG_INFO() << "[ OssFileDownloader ] start download remoteFileName = " << remoteFileName.c_str();
    if (localFileName.empty() || remoteFileName.empty()) {
        QLOG_ERROR() << "[ OssFileDownloader ] localFileName or remoteFileName is empty";
        return false;
    }
    if (job.isBusy()) {
        QLOG_ERROR() << "[ OssFileDownloader ] OssFileDownloader is running......";
        return false;
    }
    this->remoteFileName = remoteFileName;
    this->localFileName = localFileName;
    job.start();
    QLOG_INFO() << "[ OssFileDownloader ] thread start run";
    return true;
}

bool OssFileDownloader::stopDownloadFile()
{
    job.stop();
    return true;
}

void OssFileDownloader::DownloadProgressCallback(size_t increment, int64_t transfered, int64_t total, void* userData)
{
    if (userData)
        static_cast<OssFileDownloader*>(userData)->onSigDownloadProgress(increment, transfered, total);
}

void OssFileDownloader::onSigDownloadProgress(size_t, int64_t transfered, int64_t total)
{
    // The listed size is the floor: the transfer reports 0 until it knows better.
    qint64 reportedTotal = total;
    if (static_cast<quint64>(total) < remoteFileSize)
        reportedTotal = static_cast<qint64>(remoteFileSize);
    job.emitUnlessStopped([&] {
        emit sigFileDownloadProgress(QString::fromLatin1(remoteFileName.c_str()),
                                     QString::fromLatin1(localFileName.c_str()), transfered, reportedTotal);
    });
}

void OssFileDownloader::fail(const std::string& message, OssErrorCode status)
{
    job.emitLastUnlessStopped([&] {
        emit sigFileDownloadFailed(QString::fromLatin1(remoteFileName.c_str()),
                                   QString::fromLatin1(localFileName.c_str()), QString::fromLatin1(message.c_str()),
                                   status);
    });
}

// The transfer checked the bytes it wrote into its stream; the name must
// still lead to them, or the job would report some other file as the object.
static bool holdsObject(const std::string& localFileName, qint64 objectSize, std::string& message)
{
    const QFileInfo file(QFile::decodeName(localFileName.c_str()));
    if (file.isFile() && file.size() == objectSize)
        return true;
    message = "The local file holds " + std::to_string(file.size()) + " bytes, not the " + std::to_string(objectSize)
              + " bytes of the object.";
    return false;
}

void OssFileDownloader::run()
{
    job.beginJob();
    QLOG_INFO() << "[ OssFileDownloader ] start to download to local file"
                << QString::fromLatin1(localFileName.c_str());

    bool fetched = false;
    std::string fetchMessage;
    // The client goes before the job's last signal.
    {
        StorageSession session;
        const auto report = [this](StorageSession::ConfigResult, const std::string& message) {
            fail(message, ConfigFileError);
        };
        OssClient* client = job.connect(session, configFileName, configFailureTexts, report);
        if (!client)
            return;
        const std::string& bucket = session.account().bucket;

        remoteFileSize = 0;
        ListObjectsRequest listRequest(bucket);
        listRequest.setPrefix(remoteFileName);
        auto listOutcome = client->ListObjects(listRequest);
        if (!listOutcome.isSuccess()) {
            const OssError& error = listOutcome.error();
            qDebug() << "ListObjects fail"
                     << ",code:" << error.Code().c_str() << ",message:" << error.Message().c_str()
                     << ",requestId:" << error.RequestId().c_str();
            QLOG_ERROR() << "ListObjects fail"
                         << ",code:" << error.Code().c_str() << ",message:" << error.Message().c_str()
                         << ",requestId:" << error.RequestId().c_str();
            fail(error.Message(), OssServiceError);
            return;
        }
        const auto& summaries = listOutcome.result().ObjectSummarys();
        if (!summaries.empty())
            remoteFileSize = static_cast<quint64>(summaries.front().Size());
        const OssError& none = listOutcome.error();
        qDebug() << "ListObjects success"
                 << ",code:" << none.Code().c_str() << ",message:" << none.Message().c_str()
                 << ",requestId:" << none.RequestId().c_str();

        GetObjectRequest getRequest(bucket, remoteFileName);
        getRequest.setResponseStreamFactory(
            [this]() { return std::make_shared<LocalFileStream>(localFileName, job.stopRequest()); });
        getRequest.setTransferProgress({DownloadProgressCallback, this});
        auto getOutcome = client->GetObject(getRequest);
        if (getOutcome.isSuccess())
            fetched = holdsObject(localFileName, getOutcome.result().Metadata().ContentLength(), fetchMessage);
        else
            fetchMessage = getOutcome.error().Message();
    }

    if (fetched) {
        QLOG_INFO() << "[ OssFileDownloader ] Run GetObject success......";
        job.emitLastUnlessStopped(
            [&] { emit sigFileDownloadFinished(QString(remoteFileName.c_str()), QString(localFileName.c_str())); });
    } else {
        QLOG_INFO() << "[ OssFileDownloader ] Run GetObject fail......";
        fail(fetchMessage, OssServiceError);
    }
}

} // namespace Nimbrel
