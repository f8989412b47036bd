// The client layer's hot paths: CRC-64 by its tables and by folding beside
// memcpy, then one large object uploaded whole, downloaded, and uploaded in
// parts of 102400 bytes through the layer, beside curl doing the same against
// the same loopback server. Each transfer row gives MB/s (10^6 bytes) and the
// client's CPU seconds per GiB; medians of the rounds.
#include "CurlSequence.h"
#include "TransferFixture.h"
#include "TransferReport.h"
#include "TransferRounds.h"

#include "Crc64.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <vector>

using namespace AlibabaCloud::OSS;

namespace {

// Seconds per byte of one pass, the median of the rounds; each round makes
// enough passes for a GiB.
double secondsPerByte(size_t size, int rounds, const std::function<void()>& pass)
{
    const size_t passes = std::max<size_t>(1, (size_t(1) << 30) / size);
    std::vector<double> samples;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        for (size_t i = 0; i < passes; ++i)
            pass();
        samples.push_back(clock.nsecsElapsed() / 1e9 / double(passes * size));
    }
    return TransferReport::median(samples);
}

void crc64Bench(int rounds)
{
    std::printf("CRC-64, median of %d rounds, GB/s (10^9 bytes); folding %s\n", rounds,
                Crc64::hasFolding() ? "by carry-less multiplication" : "not available on this processor");
    std::printf("  %-26s %9s %9s %9s %15s\n", "", "memcpy", "tables", "folding", "folding/memcpy");
    // A buffer that stays in the cache, as a received block does, and one that does not.
    for (const size_t size : {size_t(1) << 20, size_t(256) << 20}) {
        std::vector<unsigned char> data(size);
        std::vector<unsigned char> copy(size);
        std::mt19937_64 random(7);
        for (unsigned char& b : data)
            b = static_cast<unsigned char>(random());
        volatile uint64_t sink = 0;
        const double memcpyTime = secondsPerByte(size, rounds, [&] {
            std::memcpy(copy.data(), data.data(), size);
            sink = sink + copy[size / 2];
        });
        const double tableTime = secondsPerByte(size, rounds, [&] {
            Crc64 crc;
            crc.updateByTable(data.data(), size);
            sink = sink + crc.value();
        });
        const double foldingTime = secondsPerByte(size, rounds, [&] {
            Crc64 crc;
            crc.updateByFolding(data.data(), size);
            sink = sink + crc.value();
        });
        std::printf("  %-26s %9.1f %9.1f %9.1f %15.2f\n",
                    qPrintable(QStringLiteral("%1 MiB buffer").arg(size >> 20)), 1e-9 / memcpyTime,
                    1e-9 / tableTime, 1e-9 / foldingTime, memcpyTime / foldingTime);
    }
}

OssClient layerClient(const TransferFixture& fixture)
{
    return OssClient(fixture.endpoint().toStdString(), TransferFixture::accessId().toStdString(),
                     TransferFixture::accessSecret().toStdString(), ClientConfiguration());
}

bool layerUpload(const TransferFixture& fixture, const std::string& key)
{
    OssClient client = layerClient(fixture);
    auto content = std::make_shared<std::fstream>(fixture.sourcePath().toStdString(), std::ios::in | std::ios::binary);
    return client.PutObject(PutObjectRequest(TransferFixture::bucket().toStdString(), key, content)).isSuccess();
}

bool layerDownload(const TransferFixture& fixture, const std::string& key, const QString& target)
{
    OssClient client = layerClient(fixture);
    GetObjectRequest request(TransferFixture::bucket().toStdString(), key);
    request.setResponseStreamFactory([path = target.toStdString()] {
        return std::make_shared<std::fstream>(path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    });
    return client.GetObject(request).isSuccess();
}

// As the upload worker does it: each part from a stream of its own.
bool layerUploadInParts(const TransferFixture& fixture, const std::string& key)
{
    OssClient client = layerClient(fixture);
    const std::string bucket = TransferFixture::bucket().toStdString();
    const auto initiated = client.InitiateMultipartUpload(InitiateMultipartUploadRequest(bucket, key));
    if (!initiated.isSuccess())
        return false;
    const std::string uploadId = initiated.result().UploadId();
    PartList parts;
    for (int number = 1; number <= fixture.partCount(); ++number) {
        const int64_t offset = TransferFixture::kPartSize * (number - 1);
        auto content =
            std::make_shared<std::fstream>(fixture.sourcePath().toStdString(), std::ios::in | std::ios::binary);
        content->seekg(offset);
        UploadPartRequest request(bucket, key, content);
        request.setContentLength(std::min<int64_t>(TransferFixture::kPartSize, fixture.size() - offset));
        request.setUploadId(uploadId);
        request.setPartNumber(number);
        const auto outcome = client.UploadPart(request);
        if (!outcome.isSuccess())
            return false;
        parts.emplace_back(number, outcome.result().ETag());
    }
    CompleteMultipartUploadRequest complete(bucket, key, parts, uploadId);
    return client.CompleteMultipartUpload(complete).isSuccess();
}

}

int main(int argc, char** argv)
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
    crc64Bench(rounds);

    InitializeSdk();
    TransferFixture fixture;
    if (!fixture.setUp(size)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(fixture.errorString()));
        return 1;
    }
    std::printf("\nclient layer and curl against the loopback server at %s\n", qPrintable(fixture.endpoint()));

    TransferRounds curlUp("curl", TransferRounds::ChildProcesses);
    TransferRounds layerUp("client layer", TransferRounds::ThisProcess);
    TransferRounds curlDown("curl", TransferRounds::ChildProcesses);
    TransferRounds layerDown("client layer", TransferRounds::ThisProcess);
    TransferRounds curlParts("curl", TransferRounds::ChildProcesses);
    TransferRounds layerParts("client layer", TransferRounds::ThisProcess);
    const QString curlTarget = fixture.filePath("curl-download.bin");
    const QString layerTarget = fixture.filePath("layer-download.bin");
    LoopbackServer& server = fixture.server();
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        const QString upload = fixture.curlUpload("bench/curl-whole.bin");
        ok = curlUp.run(server, [&] { return CurlSequence::run(upload); })
            && layerUp.run(server, [&] { return layerUpload(fixture, "bench/layer-whole.bin"); });
        const QString download = fixture.curlDownload("bench/layer-whole.bin", curlTarget);
        QFile::remove(layerTarget);
        ok = ok && curlDown.run(server, [&] { return CurlSequence::run(download); })
            && layerDown.run(server, [&] { return layerDownload(fixture, "bench/layer-whole.bin", layerTarget); });
        const QString inParts = fixture.curlUploadInParts("bench/curl-parts.bin");
        ok = ok && curlParts.run(server, [&] { return CurlSequence::run(inParts); })
            && layerParts.run(server, [&] { return layerUploadInParts(fixture, "bench/layer-parts.bin"); });
    }
    ok = ok && fixture.holdsSource("bench/curl-whole.bin") && fixture.holdsSource("bench/layer-whole.bin")
        && fixture.holdsSource("bench/curl-parts.bin") && fixture.holdsSource("bench/layer-parts.bin")
        && fixture.isSourceCopy(curlTarget) && fixture.isSourceCopy(layerTarget);
    if (!ok) {
        std::fprintf(stderr, "a transfer failed or stored other content\n");
        return 1;
    }

    TransferReport::printHeading("download", size, rounds);
    TransferReport::printRow(curlDown, size, nullptr);
    TransferReport::printRow(layerDown, size, &curlDown);
    TransferReport::printHeading("upload whole", size, rounds);
    TransferReport::printRow(curlUp, size, nullptr);
    TransferReport::printRow(layerUp, size, &curlUp);
    TransferReport::printHeading(qPrintable(QStringLiteral("upload in %1 parts of %2 bytes")
                                                .arg(fixture.partCount())
                                                .arg(TransferFixture::kPartSize)),
                                 size, rounds);
    TransferReport::printRow(curlParts, size, nullptr);
    TransferReport::printRow(layerParts, size, &curlParts);
    std::printf("\nload average at the end: %s\n", qPrintable(TransferReport::loadAverage()));
    ShutdownSdk();
    return 0;
}
