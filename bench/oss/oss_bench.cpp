// Transfers of one large object through the client layer beside curl doing
// the same against the same emulator, and a multipart upload in parts of
// 102400 bytes beside the whole upload. Prints MB/s (10^6 bytes) and ratios.
#include "EmulatorProcess.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <fstream>
#include <random>

using namespace AlibabaCloud::OSS;

namespace {

const char* const kBucket = "examplebucket";

struct Bench
{
    EmulatorProcess& emulator;
    QString dir;
    qint64 size;

    double mbPerSecond(qint64 elapsedMs) const { return size / 1e6 / (qMax<qint64>(1, elapsedMs) / 1000.0); }

    std::unique_ptr<OssClient> client() const
    {
        return std::make_unique<OssClient>(emulator.endpoint().toStdString(),
                                           emulator.options().accessKeyId.toStdString(),
                                           emulator.options().accessKeySecret.toStdString(), ClientConfiguration());
    }

    // curl with a V1 signature computed here, so curl does exactly one request.
    qint64 curl(const QString& method, const QString& key, const QStringList& transferArguments) const
    {
        const QString date = QLocale::c().toString(QDateTime::currentDateTimeUtc(), "ddd, dd MMM yyyy hh:mm:ss")
            + " GMT";
        const QByteArray toSign = (method + "\n\n\n" + date + "\n/" + kBucket + "/" + key).toUtf8();
        const QByteArray signature = QMessageAuthenticationCode::hash(
                                         toSign, emulator.options().accessKeySecret.toUtf8(), QCryptographicHash::Sha1)
                                         .toBase64();
        QStringList arguments {"-s", "-f", "-X", method, "-H", "Date: " + date, "-H", "Expect:", "-H",
                               "Authorization: OSS " + emulator.options().accessKeyId + ":" + signature};
        arguments << transferArguments << emulator.endpoint() + "/" + kBucket + "/" + key;
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start("curl", arguments);
        process.waitForFinished(-1);
        const qint64 elapsed = timer.elapsed();
        if (process.exitCode() != 0)
            std::fprintf(stderr, "curl failed with %d\n", process.exitCode());
        return elapsed;
    }

    qint64 layerUpload(const std::string& key) const
    {
        const auto c = client();
        auto content = std::make_shared<std::fstream>((dir + "/source.bin").toStdString(),
                                                      std::ios::in | std::ios::binary);
        QElapsedTimer timer;
        timer.start();
        const auto outcome = c->PutObject(PutObjectRequest(kBucket, key, content));
        const qint64 elapsed = timer.elapsed();
        if (!outcome.isSuccess())
            std::fprintf(stderr, "PutObject failed: %s\n", outcome.error().Message().c_str());
        return elapsed;
    }

    qint64 layerDownload(const std::string& key) const
    {
        const auto c = client();
        GetObjectRequest request(kBucket, key);
        const std::string target = (dir + "/layer-download.bin").toStdString();
        request.setResponseStreamFactory([target] {
            return std::make_shared<std::fstream>(target,
                                                  std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
        });
        QElapsedTimer timer;
        timer.start();
        const auto outcome = c->GetObject(request);
        const qint64 elapsed = timer.elapsed();
        if (!outcome.isSuccess())
            std::fprintf(stderr, "GetObject failed: %s\n", outcome.error().Message().c_str());
        return elapsed;
    }

    qint64 layerMultipart(const std::string& key, qint64 partSize, int* partCount) const
    {
        const auto c = client();
        const std::string source = (dir + "/source.bin").toStdString();
        QElapsedTimer timer;
        timer.start();
        const std::string uploadId =
            c->InitiateMultipartUpload(InitiateMultipartUploadRequest(kBucket, key)).result().UploadId();
        PartList parts;
        const int count = static_cast<int>((size + partSize - 1) / partSize);
        for (int i = 1; i <= count; ++i) {
            const qint64 offset = partSize * (i - 1);
            auto content = std::make_shared<std::fstream>(source, std::ios::in | std::ios::binary);
            content->seekg(offset);
            UploadPartRequest request(kBucket, key, content);
            request.setContentLength(static_cast<uint64_t>(qMin(partSize, size - offset)));
            request.setUploadId(uploadId);
            request.setPartNumber(i);
            const auto outcome = c->UploadPart(request);
            if (!outcome.isSuccess()) {
                std::fprintf(stderr, "UploadPart %d failed: %s\n", i, outcome.error().Message().c_str());
                break;
            }
            parts.emplace_back(i, outcome.result().ETag());
        }
        CompleteMultipartUploadRequest complete(kBucket, key, parts, uploadId);
        const auto outcome = c->CompleteMultipartUpload(complete);
        const qint64 elapsed = timer.elapsed();
        if (!outcome.isSuccess())
            std::fprintf(stderr, "CompleteMultipartUpload failed: %s\n", outcome.error().Message().c_str());
        *partCount = count;
        return elapsed;
    }
};

bool writeSource(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::mt19937_64 random(42);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < size;) {
        for (int i = 0; i + 8 <= block.size(); i += 8) {
            const quint64 value = random();
            memcpy(block.data() + i, &value, 8);
        }
        const qint64 n = qMin<qint64>(block.size(), size - written);
        if (file.write(block.constData(), n) != n)
            return false;
        written += n;
    }
    return true;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"size-mib", "Object size in MiB.", "n", "256"});
    parser.addOption({"part-size", "Part size in bytes of the multipart upload.", "n", "102400"});
    parser.addOption({"rounds", "Rounds; each figure is the best of them.", "n", "3"});
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * 1024 * 1024;
    const qint64 partSize = parser.value("part-size").toLongLong();
    const int rounds = qMax(1, parser.value("rounds").toInt());

    InitializeSdk();
    QTemporaryDir dir;
    EmulatorProcess::Options options;
    options.nativeCrc64 = true;
    EmulatorProcess emulator(options);
    if (!dir.isValid() || !emulator.start() || !writeSource(dir.filePath("source.bin"), size)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(emulator.errorString()));
        return 1;
    }
    const Bench bench {emulator, dir.path(), size};
    std::printf("object %lld MiB, emulator on loopback port %u, best of %d rounds\n", size / (1024 * 1024),
                emulator.port(), rounds);

    // Best of a few rounds: loopback timings are noisy on a shared machine.
    qint64 layerUp = LLONG_MAX, curlUp = LLONG_MAX, layerDown = LLONG_MAX, curlDown = LLONG_MAX;
    qint64 multipart = LLONG_MAX;
    int parts = 0;
    for (int round = 0; round < rounds; ++round) {
        layerUp = qMin(layerUp, bench.layerUpload("bench/layer.bin"));
        curlUp = qMin(curlUp, bench.curl("PUT", "bench/curl.bin", {"-T", dir.filePath("source.bin")}));
        layerDown = qMin(layerDown, bench.layerDownload("bench/layer.bin"));
        curlDown = qMin(curlDown, bench.curl("GET", "bench/layer.bin", {"-o", dir.filePath("curl-download.bin")}));
        multipart = qMin(multipart, bench.layerMultipart("bench/multipart.bin", partSize, &parts));
    }

    const auto crc64 = [&emulator](const char* key) {
        return emulator.command({{"cmd", "stat"}, {"bucket", kBucket}, {"key", key}}).value("crc64").toString();
    };
    const bool same = !crc64("bench/layer.bin").isEmpty() && crc64("bench/multipart.bin") == crc64("bench/layer.bin")
        && crc64("bench/curl.bin") == crc64("bench/layer.bin");
    std::printf("upload    layer %8.1f MB/s   curl %8.1f MB/s   layer/curl %.2f\n", bench.mbPerSecond(layerUp),
                bench.mbPerSecond(curlUp), double(curlUp) / double(qMax<qint64>(1, layerUp)));
    std::printf("download  layer %8.1f MB/s   curl %8.1f MB/s   layer/curl %.2f\n", bench.mbPerSecond(layerDown),
                bench.mbPerSecond(curlDown), double(curlDown) / double(qMax<qint64>(1, layerDown)));
    std::printf("multipart %d parts of %lld bytes %8.1f MB/s   whole upload %8.1f MB/s   multipart/whole %.2f%s\n",
                parts, partSize, bench.mbPerSecond(multipart), bench.mbPerSecond(layerUp),
                double(layerUp) / double(qMax<qint64>(1, multipart)), same ? "" : "   (CONTENT DIFFERS)");
    return same ? 0 : 1;
}
