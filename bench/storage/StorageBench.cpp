// The storage workers' transfers of one large object against the loopback
// server, beside curl doing the same transfer in the same run: download,
// whole upload, and upload in parts of 102400 bytes. Each row gives MB/s
// (10^6 bytes) and the CPU seconds per GiB of the whole client process (the
// worker's thread, the logger's writer thread, the waiting main thread);
// medians of the rounds.
#include "OssFileDownloader.h"
#include "OssFileUploader.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "TestConfig.h"

#include "TransferBench.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>

#include <functional>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

template <typename Worker, typename FinishedSignal, typename FailedSignal>
bool runWorker(Worker& worker, FinishedSignal finished, FailedSignal failed, const std::function<bool()>& start)
{
    QEventLoop loop;
    bool succeeded = false;
    QObject::connect(&worker, finished, &loop, [&] {
        succeeded = true;
        loop.quit();
    });
    QObject::connect(&worker, failed, &loop, [&] { loop.quit(); });
    if (!start())
        return false;
    loop.exec();
    worker.wait();
    return succeeded;
}

bool upload(Nimbrel::OssFileUploader& uploader, bool multipart, const QString& source, const std::string& key)
{
    uploader.SetMultipart(multipart);
    return runWorker(uploader, &Nimbrel::OssFileUploader::sigFileUploadFinished,
                     &Nimbrel::OssFileUploader::sigFileUploadFailed,
                     [&] { return uploader.startUploadFile(source.toStdString(), key); });
}

bool download(Nimbrel::OssFileDownloader& downloader, const std::string& key, const QString& target)
{
    return runWorker(downloader, &Nimbrel::OssFileDownloader::sigFileDownloadFinished,
                     &Nimbrel::OssFileDownloader::sigFileDownloadFailed,
                     [&] { return downloader.startDownloadFile(key, target.toStdString()); });
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The downloader reports each listing on Qt's debug output; the figures are what counts here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    TransferBench bench(app);
    AlibabaCloud::OSS::InitializeSdk();
    if (!bench.setUp())
        return 1;
    const TransferFixture& fixture = bench.fixture();
    const std::string config =
        TestConfig::writeConfig(fixture.filePath("account.cfg"), fixture.endpoint(), TransferFixture::bucket(),
                                TransferFixture::accessId(), TransferFixture::accessSecret())
            .toStdString();
    if (config.empty())
        return 1;
    // The workers' lines go to a real file, as the server log would take them.
    logger.addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        fixture.filePath("server.txt"), QuilmLogging::SizeBasedRotation, QuilmLogging::MaxSizeBytes(524288),
        QuilmLogging::MaxOldLogCount(10)));

    Nimbrel::OssFileUploader uploader;
    uploader.setConfigFileName(config);
    Nimbrel::OssFileDownloader downloader;
    downloader.setConfigFileName(config);
    const QString source = fixture.sourcePath();
    const int status =
        bench.run({"OssFileDownloader", "OssFileUploader", "OssFileUploader, multipart",
                   [&](const std::string& key) { return upload(uploader, false, source, key); },
                   [&](const std::string& key, const QString& target) { return download(downloader, key, target); },
                   [&](const std::string& key) { return upload(uploader, true, source, key); }});
    AlibabaCloud::OSS::ShutdownSdk();
    return status;
}
