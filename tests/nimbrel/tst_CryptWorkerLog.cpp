// The crypt workers' log lines, read through the logger that libNimbrel
// carries and exports.
#include "CryptFixtures.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace CryptFixtures;
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
};

void TestCryptWorkerLog::initTestCase()
{
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

QTEST_GUILESS_MAIN(TestCryptWorkerLog)
#include "tst_CryptWorkerLog.moc"
