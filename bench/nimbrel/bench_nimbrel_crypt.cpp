// Encrypts and decrypts one 64 MiB file with the two crypt workers and with
// "openssl enc -aes-128-ecb" in the same run, and prints MB/s (10^6 bytes per
// second) and the ratios. Each figure is the best of three runs.

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

double bestSeconds(const std::function<bool()>& job)
{
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!job())
            return -1;
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (run == 0 || seconds < best)
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

bool runOpenssl(const QStringList& arguments)
{
    QProcess process;
    process.start("openssl", arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

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

void printPair(const char* what, double ours, double openssl)
{
    out << QString("%1 worker:  %2 MB/s").arg(what, -10).arg(ours, 8, 'f', 1) << "\n";
    if (openssl > 0) {
        out << QString("%1 openssl: %2 MB/s").arg(what, -10).arg(openssl, 8, 'f', 1) << "\n";
        out << QString("%1 ratio worker/openssl: %2").arg(what, -10).arg(ours / openssl, 0, 'f', 3) << "\n";
    }
}

}

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

    out << "nimbrel crypt benchmark: " << fileSize / (1024 * 1024) << " MiB file, best of " << runs << " runs\n";
    const double encryptSeconds = bestSeconds([&] { return encryptWithWorker(plain, blocks); });
    const double decryptSeconds = bestSeconds([&] { return decryptWithWorker(blocks, restored); });
    if (encryptSeconds < 0 || decryptSeconds < 0) {
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

    double opensslEncrypt = -1;
    double opensslDecrypt = -1;
    if (QStandardPaths::findExecutable("openssl").isEmpty()) {
        out << "openssl not found: no baseline\n";
    } else {
        const QString hexKey =
            QByteArray(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), NIMBREL_CONFIG_KEY_LENGTH).toHex();
        const QString ecb = dir.filePath("plain.bin.ecb");
        const QString ecbRestored = dir.filePath("restored.ecb");
        const double encryptBase = bestSeconds(
            [&] { return runOpenssl({"enc", "-aes-128-ecb", "-K", hexKey, "-in", plain, "-out", ecb}); });
        const double decryptBase = bestSeconds(
            [&] { return runOpenssl({"enc", "-d", "-aes-128-ecb", "-K", hexKey, "-in", ecb, "-out", ecbRestored}); });
        if (encryptBase > 0)
            opensslEncrypt = megabytesPerSecond(fileSize, encryptBase);
        if (decryptBase > 0)
            opensslDecrypt = megabytesPerSecond(fileSize, decryptBase);
    }

    printPair("encrypt", megabytesPerSecond(fileSize, encryptSeconds), opensslEncrypt);
    printPair("decrypt", megabytesPerSecond(fileSize, decryptSeconds), opensslDecrypt);

    const double aesEncode = megabytesPerSecond(fileSize, aesSeconds(true, data));
    const double aesDecode = megabytesPerSecond(fileSize, aesSeconds(false, data));
    out << QString("Aes::AesEncode in memory, 1024-byte calls: %1 MB/s").arg(aesEncode, 0, 'f', 1) << "\n";
    out << QString("Aes::AesDecode in memory, 1024-byte calls: %1 MB/s").arg(aesDecode, 0, 'f', 1) << "\n";
    return 0;
}
