#include "CryptFixtures.h"
#include "CryptJobs.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

#include <unistd.h>

using namespace CryptFixtures;
using namespace CryptJobs;
using Nimbrel::OssFileDecryption;
using Nimbrel::OssFileEncryption;

namespace {

ProgressList plainProgress(qint64 size)
{
    ProgressList list;
    for (qint64 done = 1024; done < size + 1024; done += 1024)
        list.append({qMin(done, size), size});
    return list;
}

// The decryption progress of the block file the writer makes of `size` bytes.
ProgressList cipherProgress(qint64 size)
{
    const qint64 records = (size + 1023) / 1024;
    const qint64 total = size + records * 6 + (size % 16 ? 16 - size % 16 : 0);
    ProgressList list;
    qint64 done = 0;
    for (qint64 plain = 0; plain < size; plain += 1024) {
        const qint64 chunk = qMin<qint64>(1024, size - plain);
        done += (chunk + 15) / 16 * 16;
        list.append({done, total});
    }
    return list;
}

// Records of random lengths, flagged and not, as any writer of the format
// could make them; `plain` receives what they decrypt to.
QByteArray mixedRecords(int count, quint32 seed, QByteArray& plain, ProgressList& progress)
{
    QRandomGenerator generator(seed);
    QByteArray file;
    QList<int> lengths;
    for (int i = 0; i < count; ++i) {
        const int blocks = 1 + int(generator.bounded(64));
        const int pad = generator.bounded(2) ? 1 + int(generator.bounded(15)) : 0;
        const QByteArray data = randomBytes(16 * blocks - pad, seed + quint32(i));
        const QByteArray header = (pad ? "1" : "0") + QByteArray::number(16 * blocks).rightJustified(5, '0');
        file += record(header, data + QByteArray(pad, char(pad)));
        plain += data;
        lengths.append(16 * blocks);
    }
    qint64 done = 0;
    for (int length : lengths)
        progress.append({done += length, file.size()});
    return file;
}

} // namespace

class TestCryptWorkers : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void workedExample();
    void roundTrip_data();
    void roundTrip();
    void recordsSpreadOverReads();
    void damagedInput_data();
    void damagedInput();
    void damageDeepInTheFile_data();
    void damageDeepInTheFile();
    void acceptedOddities_data();
    void acceptedOddities();
    void missingSource();
    void unwritableDestination();
    void destinationIsSource_data();
    void destinationIsSource();
    void runWithoutNames();
    void startRefusesEmptyNames();
    void startRefusesWhileRunning();
    void stopRunningJob();
    void destroyRunningWorker();
    void destroyDuringSlowSlot();
    void stopIdleWorker();
    void stopFromSlotIsNotKeptForTheNextJob();
    void stopFromSlotEndsTheWrites_data();
    void stopFromSlotEndsTheWrites();
    void workerRunsAgain();
    void codeTravelsQueued();
    void namesReachSignalsAsLatin1();

private:
    template <typename Worker>
    void stopAfterFirstRecord(Worker& worker, std::atomic<int>& records, const QString& source, const QString& dest);
    template <typename Worker, typename Signal>
    void stopFromSlotAt(int record, bool blockingQueued, Signal progress, const QString& source);

    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }
};

void TestCryptWorkers::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCryptWorkers::workedExample()
{
    const QByteArray plain = randomBytes(2500, 2500);
    writeFile(path("plain"), plain);

    const JobOutcome encrypted = runJob<OssFileEncryption>(path("plain"), path("enc"));
    QCOMPARE(encrypted.finished, 1);
    QVERIFY(encrypted.failedCodes.isEmpty());
    QVERIFY(encrypted.successful);
    QCOMPARE(encrypted.progress, (ProgressList{{1024, 2500}, {2048, 2500}, {2500, 2500}}));

    const QByteArray blocks = readFile(path("enc"));
    QCOMPARE(blocks.size(), 2530);
    QCOMPARE(blocks.mid(0, 6), QByteArray("001024"));
    QCOMPARE(blocks.mid(1030, 6), QByteArray("001024"));
    QCOMPARE(blocks.mid(2060, 6).toHex(), QByteArray("313030343634"));
    QCOMPARE(blocks.mid(6, 1024), encipher(plain.mid(0, 1024)));
    QCOMPARE(blocks.mid(1036, 1024), encipher(plain.mid(1024, 1024)));
    QCOMPARE(blocks.mid(2066), encipher(plain.mid(2048) + QByteArray(12, '\x0c')));

    const JobOutcome decrypted = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QCOMPARE(decrypted.finished, 1);
    QVERIFY(decrypted.successful);
    QCOMPARE(decrypted.progress, (ProgressList{{1024, 2530}, {2048, 2530}, {2512, 2530}}));
    QCOMPARE(readFile(path("dec")), plain);
}

void TestCryptWorkers::roundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("headers");
    QTest::newRow("empty") << 0 << QByteArray();
    QTest::newRow("1 byte") << 1 << QByteArray("100016");
    QTest::newRow("15 bytes") << 15 << QByteArray("100016");
    QTest::newRow("16 bytes") << 16 << QByteArray("000016");
    QTest::newRow("17 bytes") << 17 << QByteArray("100032");
    QTest::newRow("1024 bytes") << 1024 << QByteArray("001024");
    QTest::newRow("1025 bytes") << 1025 << QByteArray("001024100016");
    QTest::newRow("3 MiB and 5 bytes") << 3 * 1024 * 1024 + 5 << QByteArray();
    // Around the 512 records the workers move per pass, and a third pass
    // into the buffer of the first.
    QTest::newRow("512 KiB less a byte") << 512 * 1024 - 1 << QByteArray();
    QTest::newRow("512 KiB") << 512 * 1024 << QByteArray();
    QTest::newRow("512 KiB and a byte") << 512 * 1024 + 1 << QByteArray();
    QTest::newRow("1 MiB and 17 bytes") << 1024 * 1024 + 17 << QByteArray();
}

void TestCryptWorkers::roundTrip()
{
    QFETCH(int, size);
    QFETCH(QByteArray, headers);
    const QByteArray plain = randomBytes(size, static_cast<quint32>(size) + 7);
    writeFile(path("plain"), plain);

    const JobOutcome encrypted = runJob<OssFileEncryption>(path("plain"), path("enc"));
    QCOMPARE(encrypted.finished, 1);
    QVERIFY(encrypted.successful);
    QCOMPARE(encrypted.progress, plainProgress(size));

    const QByteArray blocks = readFile(path("enc"));
    QCOMPARE(blocks, expectedBlockFile(plain));
    if (!headers.isEmpty()) {
        QCOMPARE(blocks.left(6), headers.left(6));
        if (headers.size() > 6)
            QCOMPARE(blocks.mid(1030, 6), headers.mid(6));
    }

    const JobOutcome decrypted = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QCOMPARE(decrypted.finished, 1);
    QVERIFY(decrypted.failedCodes.isEmpty());
    QVERIFY(decrypted.successful);
    QCOMPARE(decrypted.progress.size(), encrypted.progress.size());
    if (!decrypted.progress.isEmpty())
        QCOMPARE(decrypted.progress.last(), qMakePair(blocks.size() - 6 * decrypted.progress.size(), blocks.size()));
    QCOMPARE(decrypted.progress, cipherProgress(size));
    QVERIFY(readFile(path("dec")) == plain);
    QVERIFY(QFileInfo::exists(path("dec")));
}

// Short records put their boundaries anywhere in the reader's reads.
void TestCryptWorkers::recordsSpreadOverReads()
{
    QByteArray plain;
    ProgressList progress;
    writeFile(path("enc"), mixedRecords(3000, 33, plain, progress));
    const JobOutcome decrypted = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QCOMPARE(decrypted.finished, 1);
    QVERIFY(decrypted.failedCodes.isEmpty());
    QCOMPARE(decrypted.progress, progress);
    QVERIFY(readFile(path("dec")) == plain);
}

void TestCryptWorkers::damagedInput_data()
{
    QTest::addColumn<QByteArray>("blockFile");
    const QByteArray block16 = randomBytes(16, 1);
    QByteArray padBeyond = randomBytes(15, 2) + QByteArray(1, char(100));
    QByteArray negativePad = randomBytes(15, 3) + QByteArray(1, char(0xf0));
    QByteArray padOneOver = randomBytes(15, 4) + QByteArray(1, char(17));

    QTest::newRow("cut inside the header") << QByteArray("0010");
    QTest::newRow("two header bytes") << QByteArray("00");
    QTest::newRow("length 0") << QByteArray("000000") + encipher(block16);
    QTest::newRow("letters after the flag") << QByteArray("0abcde") + encipher(block16);
    QTest::newRow("length 1040") << record("001040", randomBytes(1040, 5));
    QTest::newRow("length 99999") << QByteArray("099999") + randomBytes(2048, 6);
    QTest::newRow("flagged length 99999") << QByteArray("199999") + randomBytes(2048, 6);
    QTest::newRow("length 20") << QByteArray("000020") + randomBytes(20, 7);
    QTest::newRow("length 12 before a letter") << QByteArray("012a45") + randomBytes(12, 8);
    QTest::newRow("header without content") << QByteArray("000016");
    QTest::newRow("cut inside the ciphertext") << record("001024", randomBytes(1024, 9)).left(6 + 500);
    QTest::newRow("pad count beyond the record") << record("100016", padBeyond);
    QTest::newRow("pad count one beyond") << record("100016", padOneOver);
    QTest::newRow("negative pad count") << record("100016", negativePad);
    QTest::newRow("good record, then a cut one")
        << record("001024", randomBytes(1024, 10)) + record("100016", randomBytes(16, 11)).left(10);
}

void TestCryptWorkers::damagedInput()
{
    QFETCH(QByteArray, blockFile);
    writeFile(path("enc"), blockFile);
    const JobOutcome outcome = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QCOMPARE(outcome.failedCodes, QList<int>{OssFileDecryption::FileOperationError});
    QCOMPARE(outcome.finished, 0);
    QVERIFY(!outcome.successful);
    QVERIFY(!QFileInfo::exists(path("dec")));
    QCOMPARE(readFile(path("enc")), blockFile);
}

void TestCryptWorkers::damageDeepInTheFile_data()
{
    QTest::addColumn<int>("goodRecords");
    QTest::addColumn<QByteArray>("damaged");
    QByteArray badPad = randomBytes(15, 41) + QByteArray(1, char(100));
    for (int good : {10, 511, 512, 600, 1100}) {
        const QByteArray at = QByteArray::number(good);
        QTest::newRow("letters after the flag, after " + at) << good << QByteArray("0abcde") + randomBytes(16, 42);
        QTest::newRow("length not whole blocks, after " + at) << good << QByteArray("000020") + randomBytes(20, 43);
        QTest::newRow("pad count beyond the record, after " + at) << good << record("100016", badPad);
        QTest::newRow("cut header at the end, after " + at) << good << QByteArray("0010");
    }
}

// The records before a damaged one are reported, one progress signal each,
// then the job fails and the destination goes.
void TestCryptWorkers::damageDeepInTheFile()
{
    QFETCH(int, goodRecords);
    QFETCH(QByteArray, damaged);
    QByteArray blocks = expectedBlockFile(randomBytes(goodRecords * 1024, 44)) + damaged;
    // Good records after it, unless the damage is a cut end.
    if (damaged.size() >= 6)
        blocks += expectedBlockFile(randomBytes(5000, 45));
    writeFile(path("enc"), blocks);

    const JobOutcome outcome = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QCOMPARE(outcome.failedCodes, QList<int>{OssFileDecryption::FileOperationError});
    QCOMPARE(outcome.finished, 0);
    ProgressList expected;
    for (int i = 1; i <= goodRecords; ++i)
        expected.append({1024 * i, blocks.size()});
    QCOMPARE(outcome.progress, expected);
    QVERIFY(!QFileInfo::exists(path("dec")));
}

void TestCryptWorkers::acceptedOddities_data()
{
    QTest::addColumn<QByteArray>("blockFile");
    QTest::addColumn<QByteArray>("plain");
    const QByteArray data16 = randomBytes(16, 21);
    const QByteArray data1024 = randomBytes(1024, 22);
    QByteArray zeroPad = randomBytes(15, 23) + QByteArray(1, '\0');
    QByteArray wholePad(16, char(16));

    QTest::newRow("flag neither 0 nor 1") << record("700016", data16) << data16;
    QTest::newRow("flagged with pad count 0") << record("100016", zeroPad) << zeroPad;
    QTest::newRow("pad count equal to the record") << record("100016", wholePad) << QByteArray();
    QTest::newRow("cut ciphertext of whole blocks") << record("001024", data1024).left(6 + 512) << data1024.left(512);
    QTest::newRow("length ends at a letter") << record("00032x", data1024.left(32)) << data1024.left(32);
}

void TestCryptWorkers::acceptedOddities()
{
    QFETCH(QByteArray, blockFile);
    QFETCH(QByteArray, plain);
    writeFile(path("enc"), blockFile);
    const JobOutcome outcome = runJob<OssFileDecryption>(path("enc"), path("dec"));
    QVERIFY(outcome.failedCodes.isEmpty());
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(readFile(path("dec")), plain);
}

void TestCryptWorkers::missingSource()
{
    const JobOutcome encrypted = runJob<OssFileEncryption>(path("missing"), path("enc"));
    QCOMPARE(encrypted.failedCodes, QList<int>{OssFileEncryption::OpenSourceFileError});
    QCOMPARE(encrypted.names, (QStringList{path("missing"), path("enc")}));
    QVERIFY(!QFileInfo::exists(path("enc")));

    const JobOutcome decrypted = runJob<OssFileDecryption>(path("missing"), path("dec"));
    QCOMPARE(decrypted.failedCodes, QList<int>{OssFileDecryption::OpenSourceFileError});
    QVERIFY(!QFileInfo::exists(path("dec")));
}

void TestCryptWorkers::unwritableDestination()
{
    writeFile(path("plain"), randomBytes(100, 31));
    writeFile(path("enc"), expectedBlockFile(randomBytes(100, 31)));
    const QString dest = path("no/such/folder/out");

    const JobOutcome encrypted = runJob<OssFileEncryption>(path("plain"), dest);
    QCOMPARE(encrypted.failedCodes, QList<int>{OssFileEncryption::OpenDestFileError});
    const JobOutcome decrypted = runJob<OssFileDecryption>(path("enc"), dest);
    QCOMPARE(decrypted.failedCodes, QList<int>{OssFileDecryption::OpenDestFileError});
    QVERIFY(!QFileInfo::exists(path("no")));
    QVERIFY(QFileInfo::exists(path("plain")));
}

void TestCryptWorkers::destinationIsSource_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<QString>("spelling");
    for (const bool decrypt : {false, true}) {
        const QByteArray worker = decrypt ? "decryption, " : "encryption, ";
        QTest::newRow(worker + "same name") << decrypt << "same name";
        QTest::newRow(worker + "./ in the path") << decrypt << "./ in the path";
        QTest::newRow(worker + "hard link") << decrypt << "hard link";
        QTest::newRow(worker + "symbolic link") << decrypt << "symbolic link";
    }
}

// The same file under another name is refused before anything is opened for
// writing; the source keeps every byte.
void TestCryptWorkers::destinationIsSource()
{
    QFETCH(bool, decrypt);
    QFETCH(QString, spelling);
    const QByteArray plain = randomBytes(3000, 35);
    const QByteArray content = decrypt ? expectedBlockFile(plain) : plain;
    const QString source = path("source");
    writeFile(source, content);
    QString dest = source;
    if (spelling == "./ in the path")
        dest = dir->path() + "/./source";
    else if (spelling == "hard link")
        QVERIFY(::link(QFile::encodeName(source).constData(), QFile::encodeName(dest = path("hard")).constData()) == 0);
    else if (spelling == "symbolic link")
        QVERIFY(QFile::link(source, dest = path("symbolic")));

    const JobOutcome outcome =
        decrypt ? runJob<OssFileDecryption>(source, dest) : runJob<OssFileEncryption>(source, dest);
    QCOMPARE(outcome.failedCodes, QList<int>{OssFileEncryption::OpenDestFileError});
    QCOMPARE(outcome.finished, 0);
    QVERIFY(outcome.progress.isEmpty());
    QVERIFY(!outcome.successful);
    QCOMPARE(readFile(source), content);
    QCOMPARE(readFile(dest), content);
}

void TestCryptWorkers::runWithoutNames()
{
    OssFileEncryption encryption;
    JobOutcome encrypted;
    observe(encryption, encrypted);
    encryption.start();
    QVERIFY(encryption.wait(10000));
    QCOMPARE(encrypted.failedCodes, QList<int>{OssFileEncryption::InvalidParameter});
    QCOMPARE(encrypted.names, (QStringList{QString(), QString()}));

    OssFileDecryption decryption;
    JobOutcome decrypted;
    observe(decryption, decrypted);
    decryption.start();
    QVERIFY(decryption.wait(10000));
    QCOMPARE(decrypted.failedCodes, QList<int>{OssFileDecryption::InvalidParameter});
}

void TestCryptWorkers::startRefusesEmptyNames()
{
    writeFile(path("plain"), randomBytes(10, 41));
    OssFileEncryption encryption;
    OssFileDecryption decryption;
    JobOutcome encrypted;
    JobOutcome decrypted;
    observe(encryption, encrypted);
    observe(decryption, decrypted);
    for (const auto& [source, dest] :
         QList<QPair<QString, QString>>{{QString(), path("out")}, {path("plain"), QString()}, {QString(), QString()}}) {
        QVERIFY(!start(encryption, source, dest));
        QVERIFY(!start(decryption, source, dest));
    }
    QVERIFY(!encryption.isRunning());
    QVERIFY(!decryption.isRunning());
    QVERIFY(encrypted.failedCodes.isEmpty());
    QVERIFY(decrypted.failedCodes.isEmpty());
    QVERIFY(!QFileInfo::exists(path("out")));
}

void TestCryptWorkers::startRefusesWhileRunning()
{
    writeFile(path("plain"), randomBytes(1024 * 1024, 51));
    OssFileEncryption worker;
    JobOutcome outcome;
    observe(worker, outcome);
    // Holds the job at its first record until the second start was tried.
    std::atomic<bool> release{false};
    QObject::connect(
        &worker, &OssFileEncryption::sigEncryptionProgress, &worker,
        [&release] {
            while (!release)
                QThread::msleep(1);
        },
        Qt::DirectConnection);
    QVERIFY(start(worker, path("plain"), path("enc")));
    QVERIFY(!start(worker, path("other"), path("other.enc")));
    release = true;
    QVERIFY(worker.wait(60000));
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.names, (QStringList{path("plain"), path("enc")}));
    QVERIFY(!QFileInfo::exists(path("other.enc")));
}

void TestCryptWorkers::stopRunningJob()
{
    const QByteArray plain = randomBytes(4 * 1024 * 1024, 61);
    writeFile(path("plain"), plain);
    writeFile(path("enc"), expectedBlockFile(plain));

    OssFileEncryption encryption;
    std::atomic<int> encryptedRecords{0};
    // Slows each record down, so the job is surely still running at the stop.
    QObject::connect(
        &encryption, &OssFileEncryption::sigEncryptionProgress, &encryption,
        [&encryptedRecords] {
            ++encryptedRecords;
            QThread::usleep(500);
        },
        Qt::DirectConnection);
    stopAfterFirstRecord(encryption, encryptedRecords, path("plain"), path("partial.enc"));
    QVERIFY(QFileInfo(path("partial.enc")).size() > 0);
    QVERIFY(QFileInfo(path("partial.enc")).size() < QFileInfo(path("enc")).size());

    OssFileDecryption decryption;
    std::atomic<int> decryptedRecords{0};
    QObject::connect(
        &decryption, &OssFileDecryption::sigDecryptionProgress, &decryption,
        [&decryptedRecords] {
            ++decryptedRecords;
            QThread::usleep(500);
        },
        Qt::DirectConnection);
    stopAfterFirstRecord(decryption, decryptedRecords, path("enc"), path("partial.dec"));
    const QByteArray partial = readFile(path("partial.dec"));
    QVERIFY(!partial.isEmpty());
    QVERIFY(partial.size() < plain.size());
    QCOMPARE(partial, plain.left(partial.size()));
}

template <typename Worker>
void TestCryptWorkers::stopAfterFirstRecord(Worker& worker, std::atomic<int>& records, const QString& source,
                                            const QString& dest)
{
    JobOutcome outcome;
    observe(worker, outcome);
    QVERIFY(start(worker, source, dest));
    QTRY_VERIFY_WITH_TIMEOUT(records > 0, 10000);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(stop(worker));
    // Far below the 20 seconds a blind pause would take.
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!worker.isRunning());
    QVERIFY(!worker.isSuccessful());
    const int recordsAtStop = records;
    QCOMPARE(outcome.progress.size(), qsizetype(recordsAtStop));
    QTest::qWait(50);
    QCOMPARE(int(records), recordsAtStop);
    QCOMPARE(outcome.finished, 0);
    QVERIFY(outcome.failedCodes.isEmpty());
    QVERIFY(QFileInfo::exists(dest));
}

void TestCryptWorkers::destroyRunningWorker()
{
    writeFile(path("plain"), randomBytes(4 * 1024 * 1024, 71));
    std::atomic<int> records{0};
    auto worker = std::make_unique<OssFileEncryption>();
    QObject::connect(
        worker.get(), &OssFileEncryption::sigEncryptionProgress, worker.get(),
        [&records] {
            ++records;
            QThread::usleep(500);
        },
        Qt::DirectConnection);
    QVERIFY(start(*worker, path("plain"), path("enc")));
    QTRY_VERIFY_WITH_TIMEOUT(records > 0, 10000);
    QElapsedTimer timer;
    timer.start();
    worker.reset();
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    const int recordsAtEnd = records;
    QTest::qWait(50);
    QCOMPARE(int(records), recordsAtEnd);
    QVERIFY(QFileInfo(path("enc")).size() < 4 * 1024 * 1024);
}

// A slot that is still running when the worker goes is waited for: the
// thread must have ended before the worker is freed.
void TestCryptWorkers::destroyDuringSlowSlot()
{
    writeFile(path("plain"), randomBytes(1024 * 1024, 72));
    std::atomic<int> records{0};
    std::atomic<bool> slotReturned{false};
    auto worker = std::make_unique<OssFileEncryption>();
    QObject::connect(
        worker.get(), &OssFileEncryption::sigEncryptionProgress, worker.get(),
        [&] {
            if (++records == 1) {
                QThread::msleep(500);
                slotReturned = true;
            }
        },
        Qt::DirectConnection);
    QVERIFY(start(*worker, path("plain"), path("enc")));
    QTRY_VERIFY_WITH_TIMEOUT(records > 0, 10000);
    worker.reset();
    QVERIFY(slotReturned);
    QCOMPARE(int(records), 1);
}

void TestCryptWorkers::stopIdleWorker()
{
    OssFileEncryption encryption;
    OssFileDecryption decryption;
    QVERIFY(encryption.stopEncryptionFile());
    QVERIFY(decryption.stopDecryptionFile());

    // After a finished job the flag survives a stop of the idle worker only
    // until the next start clears it.
    writeFile(path("plain"), randomBytes(10, 81));
    QVERIFY(start(encryption, path("plain"), path("enc")));
    QVERIFY(encryption.wait(10000));
    QVERIFY(encryption.isSuccessful());
    QVERIFY(encryption.stopEncryptionFile());
    QVERIFY(encryption.isSuccessful());
    QVERIFY(!start(encryption, QString(), path("enc")));
    QVERIFY(!encryption.isSuccessful());
}

// A stop from a slot of the job's own signal ends only that job: the next,
// even one started directly on the thread, runs in full.
void TestCryptWorkers::stopFromSlotIsNotKeptForTheNextJob()
{
    writeFile(path("plain"), randomBytes(1024 * 1024, 82));
    OssFileEncryption worker;
    JobOutcome outcome;
    observe(worker, outcome);
    QMetaObject::Connection stopper = QObject::connect(
        &worker, &OssFileEncryption::sigEncryptionProgress, &worker, [&worker] { worker.stopEncryptionFile(); },
        Qt::DirectConnection);
    QVERIFY(start(worker, path("plain"), path("enc")));
    QVERIFY(worker.wait(10000));
    QCOMPARE(outcome.progress.size(), 1);
    QCOMPARE(outcome.finished, 0);
    QObject::disconnect(stopper);

    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(outcome.finished, 1);
    QVERIFY(outcome.failedCodes.isEmpty());
    QCOMPARE(readFile(path("enc")), expectedBlockFile(readFile(path("plain"))));
}

void TestCryptWorkers::stopFromSlotEndsTheWrites_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<int>("record");
    QTest::addColumn<bool>("blockingQueued");
    // The first record of a pass, and one in the middle of the third; the
    // slot on the job's thread, or on a thread of its own that the signal
    // waits for.
    for (bool blockingQueued : {false, true}) {
        for (int record : {1, 1300}) {
            const QString row = QString(", record %1%2").arg(record).arg(blockingQueued ? ", blocking-queued" : "");
            QTest::newRow(qPrintable("encryption" + row)) << false << record << blockingQueued;
            QTest::newRow(qPrintable("decryption" + row)) << true << record << blockingQueued;
        }
    }
}

// A stop from a slot of the job's signal returns without waiting for the
// job's thread (from a blocking-queued slot, once its patience is over); the
// destination must not change after it, also while the job writes one pass
// of records as it reports the one before.
void TestCryptWorkers::stopFromSlotEndsTheWrites()
{
    QFETCH(bool, decrypt);
    QFETCH(int, record);
    QFETCH(bool, blockingQueued);
    const QByteArray plain = randomBytes(4 * 1024 * 1024, 83);
    writeFile(path("plain"), plain);
    writeFile(path("enc"), expectedBlockFile(plain));
    if (decrypt)
        stopFromSlotAt<OssFileDecryption>(record, blockingQueued, &OssFileDecryption::sigDecryptionProgress,
                                          path("enc"));
    else
        stopFromSlotAt<OssFileEncryption>(record, blockingQueued, &OssFileEncryption::sigEncryptionProgress,
                                          path("plain"));
}

template <typename Worker, typename Signal>
void TestCryptWorkers::stopFromSlotAt(int record, bool blockingQueued, Signal progress, const QString& source)
{
    const QString dest = path("dest");
    Worker worker;
    QThread receiverThread;
    QObject receiver;
    if (blockingQueued) {
        receiver.moveToThread(&receiverThread);
        receiverThread.start();
    }
    std::atomic<int> records{0};
    std::atomic<qint64> sizeAtStop{-1};
    QObject::connect(
        &worker, progress, blockingQueued ? &receiver : static_cast<QObject*>(&worker),
        [&] {
            if (++records != record)
                return;
            stop(worker);
            sizeAtStop = QFileInfo(dest).size();
        },
        blockingQueued ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
    QVERIFY(start(worker, source, dest));
    QVERIFY(worker.wait(10000));
    receiverThread.quit();
    QVERIFY(receiverThread.wait(10000));
    QCOMPARE(int(records), record);
    QVERIFY(sizeAtStop > 0);
    QCOMPARE(QFileInfo(dest).size(), qint64(sizeAtStop));
}

void TestCryptWorkers::workerRunsAgain()
{
    writeFile(path("a"), randomBytes(3000, 91));
    writeFile(path("b"), randomBytes(10, 92));
    OssFileEncryption worker;
    JobOutcome outcome;
    observe(worker, outcome);
    QVERIFY(start(worker, path("missing"), path("a.enc")));
    QVERIFY(worker.wait(10000));
    QVERIFY(!worker.isSuccessful());
    QVERIFY(start(worker, path("a"), path("a.enc")));
    QVERIFY(worker.wait(10000));
    QVERIFY(start(worker, path("b"), path("b.enc")));
    QVERIFY(worker.wait(10000));
    QVERIFY(worker.isSuccessful());
    QCOMPARE(outcome.failedCodes, QList<int>{OssFileEncryption::OpenSourceFileError});
    QCOMPARE(outcome.finished, 2);
    QCOMPARE(readFile(path("b.enc")), expectedBlockFile(readFile(path("b"))));
}

void TestCryptWorkers::codeTravelsQueued()
{
    OssFileDecryption worker;
    QSignalSpy failed(&worker, &OssFileDecryption::sigDecryptionFailed);
    int received = 0;
    QString receivedSource;
    // A receiver on this thread gets the signal queued.
    connect(&worker, &OssFileDecryption::sigDecryptionFailed, this,
            [&](QString source, QString, OssFileDecryption::OssErrorCode status) {
                received = status;
                receivedSource = source;
            });
    QVERIFY(start(worker, path("missing"), path("dec")));
    QTRY_COMPARE(received, int(OssFileDecryption::OpenSourceFileError));
    QCOMPARE(receivedSource, path("missing"));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(2).value<OssFileDecryption::OssErrorCode>(), OssFileDecryption::OpenSourceFileError);
}

void TestCryptWorkers::namesReachSignalsAsLatin1()
{
    const QString source = path(QString::fromUtf8("pl\xc3\xa4in"));
    writeFile(source, randomBytes(40, 101));
    const std::string utf8Dest = path(QString::fromUtf8("\xc3\xa9nc")).toStdString();

    OssFileEncryption worker;
    JobOutcome outcome;
    observe(worker, outcome);
    QVERIFY(worker.startEncryptionFile(source.toStdString(), utf8Dest));
    QVERIFY(worker.wait(10000));
    QCOMPARE(outcome.finished, 1);
    // The files are opened by their UTF-8 names, the signals decode the bytes one by one.
    QVERIFY(QFileInfo::exists(QString::fromStdString(utf8Dest)));
    QCOMPARE(outcome.names, (QStringList{QString::fromLatin1(source.toUtf8()),
                                         QString::fromLatin1(QByteArray::fromStdString(utf8Dest))}));
}

QTEST_GUILESS_MAIN(TestCryptWorkers)
#include "tst_CryptWorkers.moc"
