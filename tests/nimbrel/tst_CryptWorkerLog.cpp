// The crypt workers' log lines, read through the logger that libNimbrel
// carries and exports.
#include "CryptFixtures.h"
#include "CryptJobs.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>

#include <sys/resource.h>

using namespace CryptFixtures;
using namespace CryptJobs;
using Nimbrel::OssFileDecryption;
using Nimbrel::OssFileEncryption;

namespace {

QMutex linesMutex;
QStringList capturedLines;

void collect(const QString& message, QuilmLogging::Level)
{
    const QMutexLocker locker(&linesMutex);
    capturedLines.append(message);
}

// The lines written since the last call; a marker line shows the writer
// thread has caught up.
QStringList takeLines()
{
    const QString marker = "[ test ] " + QUuid::createUuid().toString();
    QLOG_INFO() << marker;
    for (int attempt = 0; attempt < 2000; ++attempt) {
        {
            const QMutexLocker locker(&linesMutex);
            for (qsizetype at = 0; at < capturedLines.size(); ++at) {
                if (capturedLines.at(at).contains(marker)) {
                    const QStringList lines = capturedLines.mid(0, at);
                    capturedLines.clear();
                    return lines;
                }
            }
        }
        QThread::msleep(5);
    }
    return {"<marker never arrived>"};
}

// Every line of the crypt workers is written at Info; the returned list holds
// the messages without level and time.
QStringList messages(const QStringList& lines)
{
    QStringList result;
    for (const QString& line : lines) {
        if (!line.startsWith("INFO "))
            return {"not at Info: " + line};
        result.append(line.section(' ', 3));
    }
    return result;
}

} // namespace

class TestCryptWorkerLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void encryptionLines();
    void decryptionFailureLines_data();
    void decryptionFailureLines();
    void refusalLines();
    void writeFailureLines_data();
    void writeFailureLines();
};

void TestCryptWorkerLog::initTestCase()
{
    // A write beyond the file size limit then fails instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QuilmLogging::Logger::instance().addDestination(QuilmLogging::DestinationFactory::MakeFunctorDestination(&collect));
    takeLines();
}

void TestCryptWorkerLog::encryptionLines()
{
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain");
    writeFile(plain, randomBytes(100, 1));
    OssFileEncryption worker;
    QVERIFY(worker.startEncryptionFile(plain.toStdString(), dir.filePath("enc").toStdString()));
    QVERIFY(worker.wait(10000));
    const QStringList lines = messages(takeLines());
    // Start lines on the caller's thread and job lines on the worker thread
    // may interleave; each group keeps its order.
    QCOMPARE(lines.filter("startEncryptionFile"),
             (QStringList{"[ OssFileEncryption ] startEncryptionFile sourceFileName =  " + plain + " ",
                          "[ OssFileEncryption ] startEncryptionFile destFileName =  " + dir.filePath("enc") + " ",
                          "[ OssFileEncryption ] startEncryptionFile start run "}));
    QCOMPARE(lines.filter("] Run "),
             (QStringList{"[ OssFileEncryption ] Run sourceFileName =  " + plain + " ",
                          "[ OssFileEncryption ] Run destFileName =  " + dir.filePath("enc") + " ",
                          "[ OssFileEncryption ] Run write file success...... "}));
}

void TestCryptWorkerLog::decryptionFailureLines_data()
{
    QTest::addColumn<QByteArray>("blockFile");
    QTest::addColumn<QString>("line");
    QTest::newRow("cut header") << QByteArray("0010") << "run read source file content failed";
    QTest::newRow("length 0") << QByteArray("000000abcdefghijklmnop") << "run read source file header failed";
    QTest::newRow("length 20") << QByteArray("000020") + randomBytes(20, 2) << "run AesDecode source file failed";
    QTest::newRow("pad beyond the record")
        << record("100016", randomBytes(15, 3) + QByteArray(1, char(100))) << "run source file pad count failed";
}

void TestCryptWorkerLog::decryptionFailureLines()
{
    QFETCH(QByteArray, blockFile);
    QFETCH(QString, line);
    QTemporaryDir dir;
    writeFile(dir.filePath("enc"), blockFile);
    OssFileDecryption worker;
    QVERIFY(worker.startDecryptionFile(dir.filePath("enc").toStdString(), dir.filePath("dec").toStdString()));
    QVERIFY(worker.wait(10000));
    const QStringList lines = messages(takeLines());
    QCOMPARE(lines.last(), "[ OssFileDecryption ] " + line + " ");
}

void TestCryptWorkerLog::refusalLines()
{
    QTemporaryDir dir;
    OssFileDecryption worker;
    QVERIFY(!worker.startDecryptionFile("", dir.filePath("dec").toStdString()));
    QCOMPARE(messages(takeLines()),
             (QStringList{"[ OssFileDecryption ] startDecryptionFile sourceFileName =   ",
                          "[ OssFileDecryption ] startDecryptionFile destFileName =  " + dir.filePath("dec") + " "}));

    QVERIFY(worker.startDecryptionFile(dir.filePath("missing").toStdString(), dir.filePath("dec").toStdString()));
    QVERIFY(worker.wait(10000));
    QVERIFY(messages(takeLines()).contains("[ OssFileDecryption ] run open source file failed "));
}

void TestCryptWorkerLog::writeFailureLines_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("recordsWritten");
    // 3000 bytes: records of 6 + 1024, 6 + 1024 and 6 + 960 bytes, whose
    // plaintext is 1024, 1024 and 952 bytes.
    const QString header = "[ OssFileEncryption ] Run write file header fail......";
    const QString cipher = "[ OssFileEncryption ] Run write file fail......";
    QTest::newRow("encryption, nothing written") << false << 0 << header << 0;
    QTest::newRow("encryption, in the first header") << false << 3 << header << 0;
    QTest::newRow("encryption, in the first ciphertext") << false << 6 << cipher << 0;
    QTest::newRow("encryption, at the second header") << false << 1030 << header << 1;
    QTest::newRow("encryption, in the last header") << false << 2065 << header << 2;
    QTest::newRow("encryption, at the last ciphertext") << false << 2066 << cipher << 2;
    QTest::newRow("encryption, a byte short") << false << 3025 << cipher << 2;
    const QString plain = "[ OssFileDecryption ] run write to dest file failed";
    QTest::newRow("decryption, nothing written") << true << 0 << plain << 0;
    QTest::newRow("decryption, after the first record") << true << 1024 << plain << 1;
    QTest::newRow("decryption, a byte short of two") << true << 2047 << plain << 1;
    QTest::newRow("decryption, a byte short") << true << 2999 << plain << 2;
}

// A write that stops part way (here at the file size limit) fails the record
// it stopped in, with the line for the part of the record it reached; the
// records before it were reported, and the destination goes.
void TestCryptWorkerLog::writeFailureLines()
{
    QFETCH(bool, decrypt);
    QFETCH(int, limit);
    QFETCH(QString, line);
    QFETCH(int, recordsWritten);
    QTemporaryDir dir;
    const QByteArray plain = randomBytes(3000, 4);
    const QByteArray blocks = expectedBlockFile(plain);
    const QString source = dir.filePath("source");
    writeFile(source, decrypt ? blocks : plain);
    const QString dest = dir.filePath("dest");
    takeLines();

    struct rlimit unlimited;
    QVERIFY(getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
    struct rlimit limited = unlimited;
    limited.rlim_cur = rlim_t(limit);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
    const JobOutcome outcome =
        decrypt ? runJob<OssFileDecryption>(source, dest) : runJob<OssFileEncryption>(source, dest);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &unlimited) == 0);

    QCOMPARE(outcome.failedCodes, QList<int>{OssFileEncryption::FileOperationError});
    ProgressList progress;
    for (int record = 1; record <= recordsWritten; ++record)
        progress.append({1024 * record, decrypt ? blocks.size() : plain.size()});
    QCOMPARE(outcome.progress, progress);
    QCOMPARE(messages(takeLines()).last(), line + " ");
    QVERIFY(!QFileInfo::exists(dest));
}

QTEST_GUILESS_MAIN(TestCryptWorkerLog)
#include "tst_CryptWorkerLog.moc"
