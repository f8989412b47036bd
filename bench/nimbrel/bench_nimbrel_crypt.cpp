// Moves one 64 MiB file through the two crypt workers, "openssl enc
// -aes-128-ecb", "cp" and "dd bs=1M", in a tmpfs and on the disk, and prints
// MB/s (10^6 bytes per second) and the ratios against the goals: each worker
// at least as fast as openssl and at least 0.9 of dd. The rounds alternate the
// contenders, so a busy moment of the machine hits them alike, and every
// contender writes a fresh file of its own in every round: the one of its
// last round is removed before the timing starts. A ratio is taken within
// each round; min, median and max are over the rounds. Then each worker's
// peak memory, moving a small and a large file in a process of its own.
//   bench_nimbrel_crypt [folder...]   (default: /dev/shm and the disk)

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr qint64 fileSize = 64 * 1024 * 1024;
constexpr int rounds = 7;

QTextStream out(stdout);

QString filesystemName(const QString& folder)
{
    struct statfs status;
    if (statfs(QFile::encodeName(folder).constData(), &status) != 0)
        return "unknown";
    switch (status.f_type) {
    case 0x01021994: return "tmpfs";
    case 0xEF53: return "ext2/3/4";
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    case 0x794c7630: return "overlayfs";
    }
    return QString("filesystem 0x%1").arg(qulonglong(status.f_type), 0, 16);
}

// The tmpfs and a folder on the disk, where there are both.
QStringList defaultFolders()
{
    QStringList folders;
    if (QFileInfo("/dev/shm").isWritable() && filesystemName("/dev/shm") == "tmpfs")
        folders << "/dev/shm";
    for (const QString& candidate : {QDir::tempPath(), QDir::currentPath()}) {
        if (filesystemName(candidate) != "tmpfs") {
            folders << candidate;
            break;
        }
    }
    return folders;
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

// One way of moving the file into a destination of its own.
struct Contender
{
    Contender(const QString& name, const QString& dest)
        : name(name)
        , dest(dest)
    {
    }

    QString name;
    QString dest;
    std::function<bool()> job;
    std::vector<double> rates; // MB/s per round
    bool failed = false;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QString spread(const std::vector<double>& values, int precision)
{
    return QString("%1 / %2 / %3")
        .arg(*std::min_element(values.begin(), values.end()), 8, 'f', precision)
        .arg(median(values), 8, 'f', precision)
        .arg(*std::max_element(values.begin(), values.end()), 8, 'f', precision);
}

void printRatio(const Contender& ours, const Contender& baseline, double goal)
{
    if (ours.failed || baseline.failed)
        return;
    std::vector<double> ratios;
    for (size_t round = 0; round < ours.rates.size(); ++round)
        ratios.push_back(ours.rates[round] / baseline.rates[round]);
    const QString what = QString("ratio %1 / %2:").arg(ours.name, baseline.name);
    out << QString("%1 %2").arg(what, -40).arg(spread(ratios, 3));
    if (goal > 0)
        out << QString(" (goal >= %1)").arg(goal, 0, 'f', 2);
    out << "\n";
}

// What dd does, without starting a process: 1 MiB reads and writes through
// one buffer of this process.
bool copyThroughMemory(const QString& source, const QString& dest)
{
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    const int outFd = ::open(QFile::encodeName(dest).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(1024 * 1024);
    bool copied = in >= 0 && outFd >= 0;
    for (ssize_t got = 1; copied && got > 0;) {
        got = ::read(in, buffer.data(), buffer.size());
        copied = got >= 0 && ::write(outFd, buffer.data(), size_t(got)) == got;
    }
    if (in >= 0)
        ::close(in);
    if (outFd >= 0)
        copied = ::close(outFd) == 0 && copied;
    return copied;
}

bool writeSource(const QString& path, qint64 size, std::vector<unsigned char>& data)
{
    data.resize(size_t(size));
    QRandomGenerator(20261210).generate(reinterpret_cast<quint32*>(data.data()),
                                        reinterpret_cast<quint32*>(data.data() + data.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(data.data()), size) == size;
}

// All contenders in one folder; false when a worker failed or its output was wrong.
bool benchFolder(const QString& folder, std::vector<unsigned char>& data)
{
    QTemporaryDir dir(QDir(folder).filePath("bench_nimbrel_crypt-XXXXXX"));
    if (!dir.isValid()) {
        out << "cannot make a folder in " << folder << "\n";
        return false;
    }
    const QString plain = dir.filePath("plain.bin");
    const QString blocks = dir.filePath("blocks.rec");
    const QString ecb = dir.filePath("plain.ecb");
    if (!writeSource(plain, fileSize, data))
        return false;
    const QString hexKey =
        QByteArray(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), NIMBREL_CONFIG_KEY_LENGTH).toHex();
    // The inputs of the decrypting contenders, made once.
    if (!encryptWithWorker(plain, blocks))
        return false;
    if (!runTool("openssl", {"enc", "-aes-128-ecb", "-K", hexKey, "-in", plain, "-out", ecb}))
        out << "openssl enc failed or is missing: no openssl baseline\n";

    std::vector<Contender> contenders{
        {"encrypt worker", dir.filePath("worker.rec")},
        {"decrypt worker", dir.filePath("worker.dec")},
        {"openssl enc", dir.filePath("openssl.ecb")},
        {"openssl enc -d", dir.filePath("openssl.dec")},
        {"cp", dir.filePath("cp.bin")},
        {"dd", dir.filePath("dd.bin")},
        {"1 MiB read/write", dir.filePath("copy.bin")},
    };
    contenders[0].job = [&] { return encryptWithWorker(plain, contenders[0].dest); };
    contenders[1].job = [&] { return decryptWithWorker(blocks, contenders[1].dest); };
    contenders[2].job = [&] {
        return runTool("openssl", {"enc", "-aes-128-ecb", "-K", hexKey, "-in", plain, "-out", contenders[2].dest});
    };
    contenders[3].job = [&] {
        return runTool("openssl", {"enc", "-d", "-aes-128-ecb", "-K", hexKey, "-in", ecb, "-out", contenders[3].dest});
    };
    contenders[4].job = [&] { return runTool("cp", {plain, contenders[4].dest}); };
    contenders[5].job = [&] {
        return runTool("dd", {"if=" + plain, "of=" + contenders[5].dest, "bs=1M", "status=none"});
    };

    contenders[6].job = [&] { return copyThroughMemory(plain, contenders[6].dest); };

    for (int round = 0; round < rounds; ++round) {
        for (Contender& contender : contenders) {
            if (contender.failed)
                continue;
            QFile::remove(contender.dest);
            QElapsedTimer timer;
            timer.start();
            if (!contender.job()) {
                contender.failed = true;
                continue;
            }
            contender.rates.push_back(fileSize / 1e6 / (timer.nsecsElapsed() / 1e9));
        }
    }
    if (contenders[0].failed || contenders[1].failed) {
        out << "a worker job failed\n";
        return false;
    }
    QFile restored(contenders[1].dest);
    if (!restored.open(QIODevice::ReadOnly)
        || restored.readAll() != QByteArray(reinterpret_cast<const char*>(data.data()), fileSize)) {
        out << "the decrypted file differs from the source\n";
        return false;
    }

    out << "\ncrypt workers in " << folder << " (" << filesystemName(folder) << "): " << fileSize / (1024 * 1024)
        << " MiB file, " << rounds << " rounds of every contender in turn, each writing a fresh file\n";
    out << QString("%1 %2").arg("MB/s", -40).arg("     min /   median /      max") << "\n";
    for (const Contender& contender : contenders) {
        if (contender.failed)
            out << contender.name << ": failed or missing, no figure\n";
        else
            out << QString("%1 %2").arg(contender.name + ':', -40).arg(spread(contender.rates, 1)) << "\n";
    }
    printRatio(contenders[0], contenders[2], 1.0);
    printRatio(contenders[1], contenders[3], 1.0);
    printRatio(contenders[0], contenders[5], 0.9);
    printRatio(contenders[1], contenders[5], 0.9);
    printRatio(contenders[0], contenders[4], 0);
    printRatio(contenders[1], contenders[4], 0);
    // cp copies inside the kernel (copy_file_range); dd reads into its own
    // memory and writes back, the least any worker has to do.
    printRatio(contenders[5], contenders[4], 0);
    // dd less the start of its process: what bounds the workers' own I/O.
    printRatio(contenders[0], contenders[6], 0);
    printRatio(contenders[1], contenders[6], 0);
    return true;
}

// The cipher alone, in records of 1024 bytes as the workers' format has them.
double aesRate(bool encode, std::vector<unsigned char>& data)
{
    std::vector<unsigned char> key(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY));
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        QuilmAes::Aes aes;
        for (size_t offset = 0; offset + 1024 <= data.size(); offset += 1024) {
            const int result = encode ? aes.AesEncode(data.data() + offset, 1024, key.data(), 16)
                                      : aes.AesDecode(data.data() + offset, 1024, key.data(), 16);
            if (result != 0)
                return 0;
        }
        best = std::max(best, data.size() / 1e6 / (timer.nsecsElapsed() / 1e9));
    }
    return best;
}

// One job in a child process of this program, which reports its own peak
// resident memory (what it used since exec); -1 when it failed.
double peakMibOfJob(const QString& job, const QString& source, const QString& dest)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {job, source, dest});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toDouble() / 1024;
}

// VmHWM of /proc/self/status, in KiB.
QByteArray peakKib()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return "-1024";
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first();
    }
    return "-1024";
}

void benchMemory(const QString& folder, std::vector<unsigned char>& data)
{
    QTemporaryDir dir(QDir(folder).filePath("bench_nimbrel_crypt-XXXXXX"));
    if (!dir.isValid())
        return;
    out << "\npeak resident memory of a process running one job (" << folder << ")\n";
    for (const qint64 size : {qint64(1024 * 1024), 4 * fileSize}) {
        const QString plain = dir.filePath("plain.bin");
        if (!writeSource(plain, size, data))
            return;
        data = std::vector<unsigned char>();
        const double encrypt = peakMibOfJob("--encrypt", plain, dir.filePath("blocks.rec"));
        const double decrypt = peakMibOfJob("--decrypt", dir.filePath("blocks.rec"), dir.filePath("restored.bin"));
        out << QString("%1 MiB file: encrypt worker %2 MiB, decrypt worker %3 MiB")
                   .arg(size / (1024 * 1024), 4)
                   .arg(encrypt, 0, 'f', 1)
                   .arg(decrypt, 0, 'f', 1)
            << "\n";
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList folders = app.arguments().mid(1);
    // A child of benchMemory().
    if (folders.size() == 3 && (folders[0] == "--encrypt" || folders[0] == "--decrypt")) {
        const bool done = folders[0] == "--encrypt" ? encryptWithWorker(folders[1], folders[2])
                                                    : decryptWithWorker(folders[1], folders[2]);
        out << peakKib() << "\n";
        return done ? 0 : 1;
    }

    if (folders.isEmpty())
        folders = defaultFolders();
    std::vector<unsigned char> data;
    for (const QString& folder : std::as_const(folders)) {
        if (!benchFolder(folder, data))
            return 1;
    }

    out << "\n"
        << QString("Aes::AesEncode in memory, 1024-byte calls: %1 MB/s").arg(aesRate(true, data), 0, 'f', 1) << "\n";
    out << QString("Aes::AesDecode in memory, 1024-byte calls: %1 MB/s").arg(aesRate(false, data), 0, 'f', 1) << "\n";
    if (!folders.isEmpty())
        benchMemory(folders.first(), data);
    return 0;
}
