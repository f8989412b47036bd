#include "TransferBench.h"

#include "CurlSequence.h"
#include "TransferReport.h"
#include "TransferRounds.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

TransferBench::TransferBench(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"size-mib", "Object size in MiB.", "n", "256"});
    parser.addOption({"rounds", "Rounds; each figure is their median.", "n", "5"});
    parser.process(app);
    size_ = parser.value("size-mib").toLongLong() * 1024 * 1024;
    rounds_ = qMax(1, parser.value("rounds").toInt());
    std::printf("load average at the start: %s\n", qPrintable(TransferReport::loadAverage()));
}

bool TransferBench::setUp()
{
    if (fixture_.setUp(size_))
        return true;
    std::fprintf(stderr, "set-up failed: %s\n", qPrintable(fixture_.errorString()));
    return false;
}

int TransferBench::run(const Client& client)
{
    std::printf("\ntransfers against the loopback server at %s\n", qPrintable(fixture_.endpoint()));
    TransferRounds curlUp("curl", TransferRounds::ChildProcesses);
    TransferRounds clientUp(client.uploadName, TransferRounds::ThisProcess);
    TransferRounds curlDown("curl", TransferRounds::ChildProcesses);
    TransferRounds clientDown(client.downloadName, TransferRounds::ThisProcess);
    TransferRounds curlParts("curl", TransferRounds::ChildProcesses);
    TransferRounds clientParts(client.partsName, TransferRounds::ThisProcess);
    TransferRounds curlStart("curl", TransferRounds::ChildProcesses);
    const QString curlTarget = fixture_.filePath("curl-download.bin");
    const QString clientTarget = fixture_.filePath("client-download.bin");
    LoopbackServer& server = fixture_.server();
    bool ok = true;
    for (int round = 0; ok && round < rounds_; ++round) {
        const QString whole = fixture_.curlUpload("bench/curl-whole.bin");
        ok = curlUp.run(server, [&] { return CurlSequence::run(whole); })
             && clientUp.run(server, [&] { return client.uploadWhole("bench/client-whole.bin"); });
        // Both into new files.
        const QString download = fixture_.curlDownload("bench/client-whole.bin", curlTarget);
        QFile::remove(clientTarget);
        ok = ok && curlDown.run(server, [&] { return CurlSequence::run(download); })
             && clientDown.run(server, [&] { return client.download("bench/client-whole.bin", clientTarget); });
        const QString inParts = fixture_.curlUploadInParts("bench/curl-parts.bin");
        ok = ok && curlParts.run(server, [&] { return CurlSequence::run(inParts); })
             && clientParts.run(server, [&] { return client.uploadInParts("bench/client-parts.bin"); });
        const QString listing = fixture_.curlListing("bench/client-whole.bin");
        ok = ok && curlStart.run(server, [&] { return CurlSequence::run(listing); });
    }
    ok = ok && fixture_.holdsSource("bench/curl-whole.bin") && fixture_.holdsSource("bench/client-whole.bin")
         && fixture_.holdsSource("bench/curl-parts.bin") && fixture_.holdsSource("bench/client-parts.bin")
         && fixture_.isSourceCopy(curlTarget) && fixture_.isSourceCopy(clientTarget);
    if (!ok) {
        std::fprintf(stderr, "a transfer failed or stored other content\n");
        return 1;
    }

    const double start = curlStart.cpuSeconds();
    TransferReport::printHeading("download", size_, rounds_);
    TransferReport::printRow(curlDown, size_, nullptr, start);
    TransferReport::printRow(clientDown, size_, &curlDown, start);
    TransferReport::printHeading("upload whole", size_, rounds_);
    TransferReport::printRow(curlUp, size_, nullptr, start);
    TransferReport::printRow(clientUp, size_, &curlUp, start);
    const QString parts =
        QStringLiteral("upload in %1 parts of %2 bytes").arg(fixture_.partCount()).arg(TransferFixture::kPartSize);
    TransferReport::printHeading(qPrintable(parts), size_, rounds_);
    TransferReport::printRow(curlParts, size_, nullptr, start);
    TransferReport::printRow(clientParts, size_, &curlParts, start);
    std::printf("\nEach curl row includes starting curl: one curl process with one listing request takes %.1f ms "
                "CPU (%.1f ms in all); CPU/curl-start sets the client beside curl's CPU less that.\n",
                start * 1e3, curlStart.seconds() * 1e3);
    std::printf("load average at the end: %s\n", qPrintable(TransferReport::loadAverage()));
    return 0;
}
