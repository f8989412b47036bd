#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>

#include <vector>

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the tool; a umask given is the tool's own.
ToolRun runTool(const QStringList& arguments, std::optional<mode_t> mask = std::nullopt)
{
    QProcess process;
    if (mask)
        process.setChildProcessModifier([mask] { umask(*mask); });
    process.start(NIMBREL_CONFIG_TOOL, arguments);
    ToolRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Reads the file the way the library's storage jobs do.
bool readAsLibrary(const QString& path, OssLoginInfo& info)
{
    std::vector<unsigned char> key(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY));
    QuilmAes::Aes aes;
    if (aes.AesDecode(path.toStdString(), key.data(), 16) != 0)
        return false;
    return ConfigFileParser().ParseOssLoginInfo(reinterpret_cast<const char*>(aes.decodeOutput.get()), info);
}

QStringList writeArguments(const QString& path, const QString& secret = "s3cr3t-value-XYZW")
{
    return {"write", path,          "--host",  "127.0.0.1:9000",  "--bucket",
            "media", "--access-id", "LTAI-id", "--access-secret", secret};
}

} // namespace

class TestNimbrelConfig : public QObject
{
    Q_OBJECT

private slots:
    void writeThenRead_data();
    void writeThenRead();
    void badArguments_data();
    void badArguments();
    void unreadableFiles_data();
    void unreadableFiles();
    void unwritableFile();
    void privateFile_data();
    void privateFile();
};

void TestNimbrelConfig::writeThenRead_data()
{
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QString>("shown");
    QTest::newRow("long secret") << "s3cr3t-value-XYZW"
                                 << "*************XYZW";
    QTest::newRow("short secret") << "abcdefgh"
                                  << "********";
    QTest::newRow("secret holding =") << "a=b=c=d=e"
                                      << "*****=d=e";
}

void TestNimbrelConfig::writeThenRead()
{
    QFETCH(QString, secret);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    const QString path = dir.filePath("oss.cfg");
    const ToolRun written = runTool(writeArguments(path, secret));
    QCOMPARE(written.exitCode, 0);
    QVERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(QFileInfo(path).size() % 16, 0);

    OssLoginInfo info;
    QVERIFY(readAsLibrary(path, info));
    QCOMPARE(info.host, std::string("127.0.0.1:9000"));
    QCOMPARE(info.bucket, std::string("media"));
    QCOMPARE(info.accessId, std::string("LTAI-id"));
    QCOMPARE(info.accessSecret, secret.toStdString());

    const ToolRun read = runTool({"read", path});
    QCOMPARE(read.exitCode, 0);
    QCOMPARE(read.out, QString("host=127.0.0.1:9000\nbucket=media\naccessId=LTAI-id\naccessSecret=%1\n").arg(shown));
    QVERIFY(!read.out.contains(secret));
}

void TestNimbrelConfig::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "expected a command";
    QTest::newRow("unknown command") << QStringList{"show", "x.cfg"} << "unknown command";
    QTest::newRow("no file") << QStringList{"read"} << "expected a command";
    QTest::newRow("missing secret") << QStringList{"write", "x.cfg", "--host", "h", "--bucket", "b", "--access-id", "i"}
                                    << "--access-secret is missing";
    QTest::newRow("empty host") << QStringList{"write",       "x.cfg", "--host",          "", "--bucket", "b",
                                               "--access-id", "i",     "--access-secret", "s"}
                                << "--host is missing or empty";
    QTest::newRow("line break in bucket")
        << QStringList{"write", "x.cfg", "--host", "h", "--bucket", "b\nc", "--access-id", "i", "--access-secret", "s"}
        << "--bucket must not hold a line break";
    QTest::newRow("unknown option") << QStringList{"read", "x.cfg", "--colour"} << "Unknown option";
    QTest::newRow("account options on read") << QStringList{"read", "x.cfg", "--host", "h"} << "read takes no";
}

void TestNimbrelConfig::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const ToolRun run = runTool(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestNimbrelConfig::unreadableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QByteArray() << false << "cannot decipher";
    QTest::newRow("empty") << QByteArray() << true << "cannot decipher";
    QTest::newRow("33 bytes") << QByteArray(33, 'x') << true << "cannot decipher";
    QTest::newRow("32 bytes not enciphered") << QByteArray(32, 'x') << true << "holds no login configuration";
}

void TestNimbrelConfig::unreadableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, create);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("oss.cfg");
    if (create) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const ToolRun run = runTool({"read", path});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestNimbrelConfig::unwritableFile()
{
    QTemporaryDir dir;
    const ToolRun run = runTool(writeArguments(dir.filePath("missing/folder/oss.cfg")));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("cannot write"), qPrintable(run.err));
}

// The file holds the storage secret: only its owner may read it, whatever the umask and
// whatever file it replaces.
void TestNimbrelConfig::privateFile_data()
{
    QTest::addColumn<uint>("mask");
    QTest::addColumn<int>("existingMode");
    QTest::newRow("umask 022") << 022u << -1;
    QTest::newRow("umask 0") << 0u << -1;
    QTest::newRow("umask 077") << 077u << -1;
    QTest::newRow("replacing a 0644 file") << 022u << 0644;
    QTest::newRow("replacing a 0666 file") << 0u << 0666;
}

void TestNimbrelConfig::privateFile()
{
    QFETCH(uint, mask);
    QFETCH(int, existingMode);
    QTemporaryDir dir;
    const QString path = dir.filePath("oss.cfg");
    if (existingMode >= 0) {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("old") == 3);
        existing.close();
        QCOMPARE(chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(existingMode)), 0);
    }
    QCOMPARE(runTool(writeArguments(path), static_cast<mode_t>(mask)).exitCode, 0);
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, static_cast<mode_t>(0600));
}

QTEST_GUILESS_MAIN(TestNimbrelConfig)
#include "tst_NimbrelConfig.moc"
