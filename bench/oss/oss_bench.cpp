// The client layer's hot paths: CRC-64 by its tables and by folding beside
// memcpy, then one large object uploaded whole, downloaded, and uploaded in
// parts of 102400 bytes through the layer, beside curl doing the same against
// the same loopback server. Each transfer row gives MB/s (10^6 bytes) and the
// client's CPU seconds per GiB; medians of the rounds.
#include "TransferBench.h"
#include "TransferReport.h"

#include "Crc64.h"

#include <alibabacloud/oss/OssClient.h>

#include <QCoreApplication>
#include <QElapsedTimer>

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
        std::printf("  %-26s %9.1f %9.1f %9.1f %15.2f\n", qPrintable(QStringLiteral("%1 MiB buffer").arg(size >> 20)),
                    1e-9 / memcpyTime, 1e-9 / tableTime, 1e-9 / foldingTime, memcpyTime / foldingTime);
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TransferBench bench(app);
    crc64Bench(bench.rounds());

    InitializeSdk();
    if (!bench.setUp())
        return 1;
    const TransferFixture& fixture = bench.fixture();
    const int status =
        bench.run({"client layer", "client layer", "client layer",
                   [&](const std::string& key) { return layerUpload(fixture, key); },
                   [&](const std::string& key, const QString& target) { return layerDownload(fixture, key, target); },
                   [&](const std::string& key) { return layerUploadInParts(fixture, key); }});
    ShutdownSdk();
    return status;
}
