// Encrypts and decrypts one 64 MiB file with the two crypt workers, with
// "openssl enc -aes-128-ecb", and copies it with "cp" and "dd", all in the
// same run, and prints MB/s (10^6 bytes per second) and the ratios against
// the goals: each worker at least as fast as openssl and within 20% of a
// plain copy. Each figure is the best of three runs.

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr qint64 fileSize = 64 * 1024 * 1024;
constexpr int runs = 3;

QTextStream out(stdout);

double secondsOf(const std::function<bool()>& job)
{
    QElapsedTimer timer;
    timer.start();
    if (!job())
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

double bestSeconds(const std::function<bool()>& job)
{
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        const double seconds = secondsOf(job);
        if (seconds < 0)
            return -1;
        if (best < 0 || seconds < best)
            best = seconds;
    }
    return best;
}

double megabytesPerSecond(qint64 bytes, double seconds)
{
    return bytes / 1e6 / seconds;
}

bool encryptWithWorker(const QString& source, const QString& dest)
{
    Nimbrel::OssFileEncryption worker;
    if (!worker.startEncryptionFile(source.toStdString(), dest.toStdString()))
        return false;
    worker.wait();
    return worker.isSuccessful();
}

bool decryptWithWorker(const QString& source, const QString& dest)
{
    Nimbrel::OssFileDecryption worker;
    if (!worker.startDecryptionFile(source.toStdString(), dest.toStdString()))
        return false;
    worker.wait();
    return worker.isSuccessful();
}

bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// One way of moving the file, timed once per round; the rounds alternate the
// contenders, so a busy moment of the machine hits them alike.
struct Contender
{
    QString name;
    std::function<bool()> job;
    double best = -1;
};

// The cipher alone, in records of 1024 bytes as the workers call it.
double aesSeconds(bool encode, std::vector<unsigned char>& data)
{
    std::vector<unsigned char> key(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY));
    return bestSeconds([&] {
        QuilmAes::Aes aes;
        for (size_t offset = 0; offset < data.size(); offset += 1024) {
            const int result = encode ? aes.AesEncode(data.data() + offset, 1024, key.data(), 16)
                                      : aes.AesDecode(data.data() + offset, 1024, key.data(), 16);
            if (result != 0)
                return false;
        }
        return true;
    });
}

void printRatio(const QString& what, double ours, double baseline, double goal)
{
    if (baseline > 0)
        out << QString("%1 %2 (goal >= %3)").arg(what, -40).arg(ours / baseline, 0, 'f', 3).arg(goal, 0, 'f', 2)
            << "\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString plain = dir.filePath("plain.bin");
    const QString blocks = dir.filePath("plain.bin.rec");
    const QString restored = dir.filePath("restored.bin");

    std::vector<unsigned char> data(fileSize);
    QRandomGenerator(20261210).generate(reinterpret_cast<quint32*>(data.data()),
                                        reinterpret_cast<quint32*>(data.data() + data.size()));
    {
        QFile file(plain);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(reinterpret_cast<const char*>(data.data()), fileSize) != fileSize)
            return 1;
    }

    const QString hexKey =
        QByteArray(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), NIMBREL_CONFIG_KEY_LENGTH).toHex();
    const QString ecb = dir.filePath("plain.bin.ecb");
    const QString copy = dir.filePath("copy.bin");
    if (!runTool("openssl", {"enc", "-aes-128-ecb", "-K", hexKey, "-in", plain, "-out", ecb}))
        out << "openssl enc failed or is missing: no openssl baseline\n";

    std::vector<Contender> contenders{
        {"encrypt worker", [&] { return encryptWithWorker(plain, blocks); }},
        {"decrypt worker", [&] { return decryptWithWorker(blocks, restored); }},
        {"openssl enc",
         [&] {
             return runTool("openssl", {"enc", "-aes-128-ecb", "-K", hexKey, "-in", plain, "-out", ecb});
         }},
        {"openssl enc -d",
         [&] {
             return runTool("openssl", {"enc", "-d", "-aes-128-ecb", "-K", hexKey, "-in", ecb, "-out",
                                        dir.filePath("restored.ecb")});
         }},
        {"cp",
         [&] {
             return runTool("cp", {plain, copy});
         }},
        {"dd bs=1M",
         [&] {
             return runTool("dd", {"if=" + plain, "of=" + copy, "bs=1M", "status=none"});
         }},
    };
    for (int round = 0; round < runs; ++round) {
        for (Contender& contender : contenders) {
            const double seconds = secondsOf(contender.job);
            if (seconds > 0 && (contender.best < 0 || seconds < contender.best))
                contender.best = seconds;
        }
    }
    if (contenders[0].best < 0 || contenders[1].best < 0) {
        out << "a worker job failed\n";
        return 1;
    }
    QFile restoredFile(restored);
    if (!restoredFile.open(QIODevice::ReadOnly)
        || restoredFile.readAll() != QByteArray(reinterpret_cast<const char*>(data.data()), fileSize)) {
        out << "the decrypted file differs from the source\n";
        return 1;
    }
    restoredFile.close();

    out << "nimbrel crypt benchmark: " << fileSize / (1024 * 1024) << " MiB file, best of " << runs
        << " rounds, each round running every contender once\n";
    std::vector<double> rates;
    for (const Contender& contender : contenders) {
        rates.push_back(contender.best > 0 ? megabytesPerSecond(fileSize, contender.best) : -1);
        if (rates.back() > 0)
            out << QString("%1 %2 MB/s").arg(contender.name + ':', -22).arg(rates.back(), 8, 'f', 1) << "\n";
        else
            out << contender.name << ": failed or missing, no figure\n";
    }
    const double encryptRate = rates[0], decryptRate = rates[1];
    printRatio("ratio encrypt worker / openssl enc:", encryptRate, rates[2], 1.0);
    printRatio("ratio decrypt worker / openssl enc -d:", decryptRate, rates[3], 1.0);
    printRatio("ratio encrypt worker / cp:", encryptRate, rates[4], 0.8);
    printRatio("ratio decrypt worker / cp:", decryptRate, rates[4], 0.8);
    printRatio("ratio encrypt worker / dd:", encryptRate, rates[5], 0.8);
    printRatio("ratio decrypt worker / dd:", decryptRate, rates[5], 0.8);
    // cp copies inside the kernel (copy_file_range); dd reads into its own
    // memory and writes back, the least any worker has to do.
    if (rates[4] > 0 && rates[5] > 0)
        out << QString("%1 %2 (a copy through user space, no cipher)")
                   .arg("ratio dd / cp:", -40)
                   .arg(rates[5] / rates[4], 0, 'f', 3)
            << "\n";

    const double aesEncode = megabytesPerSecond(fileSize, aesSeconds(true, data));
    const double aesDecode = megabytesPerSecond(fileSize, aesSeconds(false, data));
    out << QString("Aes::AesEncode in memory, 1024-byte calls: %1 MB/s").arg(aesEncode, 0, 'f', 1) << "\n";
    out << QString("Aes::AesDecode in memory, 1024-byte calls: %1 MB/s").arg(aesDecode, 0, 'f', 1) << "\n";
    return 0;
}
