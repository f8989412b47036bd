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

#include "CurlSequence.h"
#include "TransferFixture.h"
#include "TransferReport.h"
#include "TransferRounds.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <cstdio>
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

bool upload(Nimbrel::OssFileUploader& uploader, const QString& source, const std::string& key)
{
    return runWorker(uploader, &Nimbrel::OssFileUploader::sigFileUploadFinished,
                     &Nimbrel::OssFileUploader::sigFileUploadFailed,
                     [&] { return uploader.startUploadFile(source.toStdString(), key); });
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"size-mib", "Object size in MiB.", "n", "256"});
    parser.addOption({"rounds", "Rounds; each figure is their median.", "n", "5"});
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * 1024 * 1024;
    const int rounds = qMax(1, parser.value("rounds").toInt());

    std::printf("load average at the start: %s\n", qPrintable(TransferReport::loadAverage()));
    AlibabaCloud::OSS::InitializeSdk();
    TransferFixture fixture;
    if (!fixture.setUp(size)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(fixture.errorString()));
        return 1;
    }
    const QString config = TestConfig::writeConfig(fixture.filePath("account.cfg"), fixture.endpoint(),
                                                   TransferFixture::bucket(), TransferFixture::accessId(),
                                                   TransferFixture::accessSecret());
    if (config.isEmpty())
        return 1;
    // The workers' lines go to a real file, as the server log would take them.
    logger.addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        fixture.filePath("server.txt"), QuilmLogging::SizeBasedRotation, QuilmLogging::MaxSizeBytes(524288),
        QuilmLogging::MaxOldLogCount(10)));
    std::printf("storage workers and curl against the loopback server at %s\n", qPrintable(fixture.endpoint()));

    Nimbrel::OssFileUploader uploader;
    uploader.setConfigFileName(config.toStdString());
    Nimbrel::OssFileDownloader downloader;
    downloader.setConfigFileName(config.toStdString());

    TransferRounds curlUp("curl", TransferRounds::ChildProcesses);
    TransferRounds workerUp("OssFileUploader", TransferRounds::ThisProcess);
    TransferRounds curlDown("curl", TransferRounds::ChildProcesses);
    TransferRounds workerDown("OssFileDownloader", TransferRounds::ThisProcess);
    TransferRounds curlParts("curl", TransferRounds::ChildProcesses);
    TransferRounds workerParts("OssFileUploader, multipart", TransferRounds::ThisProcess);
    const QString source = fixture.sourcePath();
    const QString curlTarget = fixture.filePath("curl-download.bin");
    const QString workerTarget = fixture.filePath("worker-download.bin");
    LoopbackServer& server = fixture.server();
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        const QString whole = fixture.curlUpload("bench/curl-whole.bin");
        uploader.SetMultipart(false);
        ok = curlUp.run(server, [&] { return CurlSequence::run(whole); })
            && workerUp.run(server, [&] { return upload(uploader, source, "bench/worker-whole.bin"); });

        const QString download = fixture.curlDownload("bench/worker-whole.bin", curlTarget);
        QFile::remove(workerTarget);
        ok = ok && curlDown.run(server, [&] { return CurlSequence::run(download); })
            && workerDown.run(server, [&] {
                   return runWorker(downloader, &Nimbrel::OssFileDownloader::sigFileDownloadFinished,
                                    &Nimbrel::OssFileDownloader::sigFileDownloadFailed, [&] {
                                        return downloader.startDownloadFile("bench/worker-whole.bin",
                                                                            workerTarget.toStdString());
                                    });
               });

        const QString inParts = fixture.curlUploadInParts("bench/curl-parts.bin");
        uploader.SetMultipart(true);
        ok = ok && curlParts.run(server, [&] { return CurlSequence::run(inParts); })
            && workerParts.run(server, [&] { return upload(uploader, source, "bench/worker-parts.bin"); });
    }
    ok = ok && fixture.holdsSource("bench/curl-whole.bin") && fixture.holdsSource("bench/worker-whole.bin")
        && fixture.holdsSource("bench/curl-parts.bin") && fixture.holdsSource("bench/worker-parts.bin")
        && fixture.isSourceCopy(curlTarget) && fixture.isSourceCopy(workerTarget);
    if (!ok) {
        std::fprintf(stderr, "a transfer failed or stored other content\n");
        return 1;
    }

    TransferReport::printHeading("download", size, rounds);
    TransferReport::printRow(curlDown, size, nullptr);
    TransferReport::printRow(workerDown, size, &curlDown);
    TransferReport::printHeading("upload whole", size, rounds);
    TransferReport::printRow(curlUp, size, nullptr);
    TransferReport::printRow(workerUp, size, &curlUp);
    TransferReport::printHeading(qPrintable(QStringLiteral("upload in %1 parts of %2 bytes")
                                                .arg(fixture.partCount())
                                                .arg(TransferFixture::kPartSize)),
                                 size, rounds);
    TransferReport::printRow(curlParts, size, nullptr);
    TransferReport::printRow(workerParts, size, &curlParts);
    std::printf("\nload average at the end: %s\n", qPrintable(TransferReport::loadAverage()));
    AlibabaCloud::OSS::ShutdownSdk();
    return 0;
}
