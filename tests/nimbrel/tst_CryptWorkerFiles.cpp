// What the crypt workers accept as their files: regular files only, and
// never the source as the destination, however the names change meanwhile.
#include "CryptFixtures.h"
#include "CryptJobs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace CryptFixtures;
using namespace CryptJobs;
using Nimbrel::OssFileDecryption;
using Nimbrel::OssFileEncryption;

namespace {

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// Points `name` at `target` in one step, by renaming a fresh link over it.
void pointAt(const QByteArray& name, const QByteArray& target, const QByteArray& spare)
{
    ::unlink(spare.constData());
    if (::symlink(target.constData(), spare.constData()) == 0)
        ::rename(spare.constData(), name.constData());
}

} // namespace

class TestCryptWorkerFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void destinationSwappedWithSource_data();
    void destinationSwappedWithSource();
    void notRegularFile_data();
    void notRegularFile();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }
};

void TestCryptWorkerFiles::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCryptWorkerFiles::destinationSwappedWithSource_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::newRow("encryption") << false;
    QTest::newRow("decryption") << true;
}

// A second thread turns the destination name from a link to another file
// into a link to the source and back while jobs start: whatever the name
// points at when the job opens it, the source keeps every byte.
void TestCryptWorkerFiles::destinationSwappedWithSource()
{
    QFETCH(bool, decrypt);
    const QByteArray plain = randomBytes(3000, 7);
    const QByteArray content = decrypt ? expectedBlockFile(plain) : plain;
    const QString source = path("source");
    writeFile(source, content);
    writeFile(path("other"), QByteArray());
    const QString dest = path("dest");
    QVERIFY(QFile::link(path("other"), dest));

    std::atomic<bool> done{false};
    std::unique_ptr<QThread> swapper(QThread::create([&] {
        const QByteArray name = encoded(dest);
        const QByteArray spare = encoded(path("spare"));
        while (!done) {
            pointAt(name, encoded(path("other")), spare);
            pointAt(name, encoded(source), spare);
        }
    }));
    swapper->start();

    int finished = 0;
    int refused = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 2000 && timer.elapsed() < 60000; ++round) {
        const JobOutcome outcome =
            decrypt ? runJob<OssFileDecryption>(source, dest) : runJob<OssFileEncryption>(source, dest);
        finished += outcome.finished;
        refused += outcome.failedCodes.count(OssFileEncryption::OpenDestFileError);
        if (QFileInfo(source).size() != content.size())
            break;
    }
    done = true;
    swapper->wait();

    QCOMPARE(readFile(source), content);
    // The jobs met the name both ways.
    QVERIFY(finished > 0);
    QVERIFY(refused > 0);
}

void TestCryptWorkerFiles::notRegularFile_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<bool>("asSource");
    QTest::addColumn<QString>("kind");
    for (const bool decrypt : {false, true}) {
        const QByteArray worker = decrypt ? "decryption, " : "encryption, ";
        for (const bool asSource : {true, false}) {
            const QByteArray side = asSource ? "source " : "destination ";
            for (const QString kind : {"named pipe", "named pipe, other end open", "device", "folder"})
                QTest::newRow(worker + side + kind.toLatin1()) << decrypt << asSource << kind;
        }
    }
}

// A named pipe or a device fails at once with the code for that file and
// holds neither the job nor its stop; nothing is written into it.
void TestCryptWorkerFiles::notRegularFile()
{
    QFETCH(bool, decrypt);
    QFETCH(bool, asSource);
    QFETCH(QString, kind);
    const QByteArray plain = randomBytes(100, 9);
    const QString regular = path("regular");
    writeFile(regular, decrypt ? expectedBlockFile(plain) : plain);
    const QString special = path("special");
    int otherEnd = -1;
    if (kind.startsWith("named pipe")) {
        QVERIFY(::mkfifo(encoded(special).constData(), 0600) == 0);
        if (kind.endsWith("other end open")) {
            otherEnd = ::open(encoded(special).constData(), (asSource ? O_RDWR : O_RDONLY) | O_NONBLOCK);
            QVERIFY(otherEnd >= 0);
        }
    } else if (kind == "device") {
        // A link in the sandbox: a removal could only take the link.
        QVERIFY(QFile::link(asSource ? "/dev/zero" : "/dev/null", special));
    } else {
        QVERIFY(QDir().mkdir(special));
    }
    const QString source = asSource ? special : regular;
    const QString dest = asSource ? path("dest") : special;

    std::unique_ptr<QThread> worker;
    JobOutcome outcome;
    if (decrypt) {
        auto decryption = std::make_unique<OssFileDecryption>();
        observe(*decryption, outcome);
        QVERIFY(start(*decryption, source, dest));
        worker = std::move(decryption);
    } else {
        auto encryption = std::make_unique<OssFileEncryption>();
        observe(*encryption, outcome);
        QVERIFY(start(*encryption, source, dest));
        worker = std::move(encryption);
    }
    const bool ended = worker->wait(10000);
    if (!ended) {
        // Lets a job that blocks in the pipe or reads the device go, so the
        // test can fail instead of hanging.
        const int release = ::open(encoded(special).constData(), O_RDWR | O_NONBLOCK);
        if (otherEnd >= 0)
            ::close(otherEnd);
        otherEnd = -1;
        if (decrypt)
            static_cast<OssFileDecryption&>(*worker).stopDecryptionFile();
        else
            static_cast<OssFileEncryption&>(*worker).stopEncryptionFile();
        if (release >= 0)
            ::close(release);
    }
    if (otherEnd >= 0)
        ::close(otherEnd);
    QVERIFY(worker->wait(10000));
    QVERIFY2(ended, "the job was still running after 10 s");
    const int code = asSource ? OssFileEncryption::OpenSourceFileError : OssFileEncryption::OpenDestFileError;
    QCOMPARE(outcome.failedCodes, QList<int>{code});
    QCOMPARE(outcome.finished, 0);
    QVERIFY(outcome.progress.isEmpty());
    QVERIFY(!QFileInfo::exists(path("dest")));
}

QTEST_GUILESS_MAIN(TestCryptWorkerFiles)
#include "tst_CryptWorkerFiles.moc"
