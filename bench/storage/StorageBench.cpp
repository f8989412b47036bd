// Throughput of the storage workers against the emulator on loopback, beside
// curl and beside the client layer alone, for a 256 MiB object: download,
// whole upload, and upload in parts of 102400 bytes.
#include "OssFileDownloader.h"
#include "OssFileUploader.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "StorageSandbox.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>
#include <fstream>
#include <functional>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

using namespace AlibabaCloud::OSS;

const int64_t objectSize = int64_t(256) * 1024 * 1024;
const std::string accessId = StorageSandbox::accessId().toStdString();
const std::string accessSecret = StorageSandbox::accessSecret().toStdString();

const int rounds = 3;

// The best of a few rounds, since the machine is shared; `after` runs
// untimed after each round (to remove what the round stored).
double seconds(const std::function<bool()>& step, const std::function<void()>& after = [] {})
{
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        if (!step()) {
            std::fprintf(stderr, "step failed\n");
            std::exit(1);
        }
        const double elapsed = clock.nsecsElapsed() / 1e9;
        best = round == 0 ? elapsed : std::min(best, elapsed);
        after();
    }
    return best;
}

double megabytesPerSecond(double elapsed)
{
    return objectSize / (1024.0 * 1024.0) / elapsed;
}

bool writeRandomFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qint64 written = 0; written < objectSize; written += block.size()) {
        generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

QByteArray digestOf(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result();
}

// curl with a V1 signature made here, independently of the client layer.
bool curl(const StorageSandbox& sandbox, const QString& verb, const std::string& key, const QStringList& transfer)
{
    const QString date = QLocale::c().toString(QDateTime::currentDateTimeUtc(), "ddd, dd MMM yyyy hh:mm:ss 'GMT'");
    const QString resource = "/" + StorageSandbox::bucket() + "/" + QString::fromStdString(key);
    const QByteArray stringToSign = (verb + "\n\n\n" + date + "\n" + resource).toUtf8();
    const QByteArray signature =
        QMessageAuthenticationCode::hash(stringToSign, QByteArray::fromStdString(accessSecret), QCryptographicHash::Sha1)
            .toBase64();
    QStringList arguments = {"-s", "-S", "-f", "-X", verb, "-H", "Date: " + date, "-H",
                             "Authorization: OSS " + QString::fromStdString(accessId) + ":" + signature,
                             "-H", "Content-Type:", "-H", "Expect:"};
    arguments << transfer << sandbox.endpoint() + resource;
    QProcess process;
    process.start("curl", arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

OssClient layerClient(const StorageSandbox& sandbox)
{
    return OssClient(sandbox.endpoint().toStdString(), accessId, accessSecret, ClientConfiguration());
}

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

bool layerMultipart(const StorageSandbox& sandbox, const QString& path, const std::string& key)
{
    OssClient client(sandbox.endpoint().toStdString(), accessId, accessSecret, ClientConfiguration());
    const std::string bucket = StorageSandbox::bucket().toStdString();
    auto initiated = client.InitiateMultipartUpload(InitiateMultipartUploadRequest(bucket, key));
    if (!initiated.isSuccess())
        return false;
    PartList parts;
    const int64_t partSize = 102400;
    for (int64_t offset = 0, number = 1; offset < objectSize; offset += partSize, ++number) {
        auto content = std::make_shared<std::fstream>(path.toStdString(), std::ios_base::in | std::ios_base::binary);
        content->seekg(offset);
        UploadPartRequest request(bucket, key, content);
        request.setContentLength(std::min(partSize, objectSize - offset));
        request.setUploadId(initiated.result().UploadId());
        request.setPartNumber(int(number));
        auto outcome = client.UploadPart(request);
        if (!outcome.isSuccess())
            return false;
        parts.push_back(Part(int(number), outcome.result().ETag()));
    }
    CompleteMultipartUploadRequest complete(bucket, key);
    complete.setUploadId(initiated.result().UploadId());
    complete.setPartList(parts);
    return client.CompleteMultipartUpload(complete).isSuccess();
}

bool removeObject(const StorageSandbox& sandbox, const std::string& key)
{
    OssClient client(sandbox.endpoint().toStdString(), accessId, accessSecret, ClientConfiguration());
    DeleteObjectsRequest request(StorageSandbox::bucket().toStdString());
    request.addKey(key);
    return client.DeleteObjects(request).isSuccess();
}

void report(const char* what, double elapsed, double baseline, const char* baselineName, double layer)
{
    std::printf("%-34s %8.1f MB/s   %5.2f x %s   %5.2f x layer\n", what, megabytesPerSecond(elapsed),
                baseline / elapsed, baselineName, layer / elapsed);
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    InitializeSdk();
    StorageSandbox sandbox(true);
    if (!sandbox.start()) {
        std::fprintf(stderr, "emulator did not start\n");
        return 1;
    }
    // The workers' lines go to a real file, as the server log would take them.
    logger.addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        sandbox.filePath("server.txt"), QuilmLogging::SizeBasedRotation, QuilmLogging::MaxSizeBytes(524288),
        QuilmLogging::MaxOldLogCount(10)));

    const QString source = sandbox.filePath("source.bin");
    if (!writeRandomFile(source))
        return 1;
    const QByteArray sourceDigest = digestOf(source);
    const std::string bucket = StorageSandbox::bucket().toStdString();
    const std::string config = sandbox.configPath().toStdString();
    std::printf("storage workers, best of %d rounds, %lld MiB object, emulator at %s\n", rounds, static_cast<long long>(objectSize >> 20),
                qPrintable(sandbox.endpoint()));

    // Upload, whole.
    const auto removeWhole = [&] { removeObject(sandbox, "bench/object.bin"); };
    const auto removeParts = [&] { removeObject(sandbox, "bench/parts.bin"); };
    const double curlUp =
        seconds([&] { return curl(sandbox, "PUT", "bench/object.bin", {"-T", source}); }, removeWhole);
    const double layerUp = seconds(
        [&] {
        OssClient client = layerClient(sandbox);
        auto content = std::make_shared<std::fstream>(source.toStdString(), std::ios_base::in | std::ios_base::binary);
        return client.PutObject(PutObjectRequest(bucket, "bench/object.bin", content)).isSuccess();
        },
        removeWhole);
    Nimbrel::OssFileUploader uploader;
    uploader.setConfigFileName(config);
    const double workerUp = seconds([&] {
        return runWorker(uploader, &Nimbrel::OssFileUploader::sigFileUploadFinished,
                         &Nimbrel::OssFileUploader::sigFileUploadFailed,
                         [&] { return uploader.startUploadFile(source.toStdString(), "bench/object.bin"); });
    });

    // Download of the object the worker stored.
    const QString target = sandbox.filePath("target.bin");
    const double curlDown = seconds([&] { return curl(sandbox, "GET", "bench/object.bin", {"-o", target}); });
    const double layerDown = seconds([&] {
        OssClient client = layerClient(sandbox);
        GetObjectRequest request(bucket, "bench/object.bin");
        request.setResponseStreamFactory([&] {
            return std::make_shared<std::fstream>(target.toStdString(), std::ios_base::in | std::ios_base::out |
                                                                            std::ios_base::trunc | std::ios_base::binary);
        });
        return client.GetObject(request).isSuccess();
    });
    Nimbrel::OssFileDownloader downloader;
    downloader.setConfigFileName(config);
    const double workerDown = seconds([&] {
        return runWorker(downloader, &Nimbrel::OssFileDownloader::sigFileDownloadFinished,
                         &Nimbrel::OssFileDownloader::sigFileDownloadFailed,
                         [&] { return downloader.startDownloadFile("bench/object.bin", target.toStdString()); });
    });
    if (digestOf(target) != sourceDigest) {
        std::fprintf(stderr, "downloaded content differs\n");
        return 1;
    }
    removeObject(sandbox, "bench/object.bin");

    // Upload in parts of 102400 bytes.
    const double layerParts =
        seconds([&] { return layerMultipart(sandbox, source, "bench/parts.bin"); }, removeParts);
    uploader.SetMultipart(true);
    const double workerParts = seconds(
        [&] {
            return runWorker(uploader, &Nimbrel::OssFileUploader::sigFileUploadFinished,
                             &Nimbrel::OssFileUploader::sigFileUploadFailed,
                             [&] { return uploader.startUploadFile(source.toStdString(), "bench/parts.bin"); });
        },
        removeParts);

    std::printf("%-34s %8.1f MB/s\n", "download, curl", megabytesPerSecond(curlDown));
    std::printf("%-34s %8.1f MB/s   %5.2f x curl\n", "download, client layer", megabytesPerSecond(layerDown),
                curlDown / layerDown);
    report("download, OssFileDownloader", workerDown, curlDown, "curl", layerDown);
    std::printf("%-34s %8.1f MB/s\n", "upload whole, curl", megabytesPerSecond(curlUp));
    std::printf("%-34s %8.1f MB/s   %5.2f x curl\n", "upload whole, client layer", megabytesPerSecond(layerUp),
                curlUp / layerUp);
    report("upload whole, OssFileUploader", workerUp, curlUp, "curl", layerUp);
    std::printf("%-34s %8.1f MB/s   %5.2f x curl whole\n", "upload in parts, client layer",
                megabytesPerSecond(layerParts), curlUp / layerParts);
    report("upload in parts, OssFileUploader", workerParts, curlUp, "curl whole", layerParts);

    ShutdownSdk();
    return 0;
}
