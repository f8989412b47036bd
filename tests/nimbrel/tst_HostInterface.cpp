// A host of libNimbrel, built from the one header a host includes. Every exported class,
// operation and signal is named here with the type a host compiles against, so a change
// of the library's interface fails the build or the link of this test; the parts that
// need no storage service are then run as a host runs them.
#include <Nimbrel.h>

#include <QFile>
#include <QMetaMethod>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace Nimbrel;

namespace {

// Taking an operation's address as the declared pointer type fails to compile when its
// signature changes, and fails to link when the library stops exporting it.
template <typename Pointer>
bool named(Pointer pointer)
{
    return pointer != nullptr;
}

template <typename Worker>
constexpr bool declaresErrorCodes()
{
    return Worker::OssServiceError == 1 && Worker::FileOperationError == 4 && Worker::ConfigFileError == 5
           && Worker::OpenSourceFileError == 6 && Worker::OpenDestFileError == 7 && Worker::InvalidParameter == 8;
}

static_assert(declaresErrorCodes<OssFileDownloader>());
static_assert(declaresErrorCodes<OssFileUploader>());
static_assert(declaresErrorCodes<OssFileWork>());
static_assert(declaresErrorCodes<OssServerStatus>());
static_assert(declaresErrorCodes<OssFileEncryption>());
static_assert(declaresErrorCodes<OssFileDecryption>());
static_assert(OssFileWork::None == -1 && OssFileWork::ListFiles == 0 && OssFileWork::ListFileInfo == 1
              && OssFileWork::RemoveFiles == 2);
static_assert(OssFileUploader::partSize == 102400);

// A host may call the uploader's two upload ways from a subclass.
class HostUploader : public OssFileUploader
{
public:
    using OssFileUploader::UploadMultiPartFile;
    using OssFileUploader::UploadWholeFile;
};

const QMetaObject* metaObjectOf(const QString& className)
{
    for (const QMetaObject* meta :
         {&OssFileDownloader::staticMetaObject, &OssFileUploader::staticMetaObject, &OssFileWork::staticMetaObject,
          &OssServerStatus::staticMetaObject, &OssFileEncryption::staticMetaObject,
          &OssFileDecryption::staticMetaObject, &OssFielConfig::staticMetaObject}) {
        if (QLatin1String(meta->className()) == className)
            return meta;
    }
    return nullptr;
}

} // namespace

class TestHostInterface : public QObject
{
    Q_OBJECT

private slots:
    void operationsKeepTheirTypes();
    void signalsKeepTheirTypes();
    void signalSignatures_data();
    void signalSignatures();
    void classesKeepTheirNames();
    void packageQueriesFindNothing();
    void cipherRoundTrip();
    void cryptWorkersRunForAHost();
    void storageWorkersReportAMissingConfiguration();
};

void TestHostInterface::operationsKeepTheirTypes()
{
    using Name = const std::string&;

    QVERIFY(named<bool (*)(bool)>(&OssInitialize));
    QVERIFY(named<bool (*)()>(&OssUninitialize));

    QVERIFY(named<void (OssFileDownloader::*)(Name)>(&OssFileDownloader::setConfigFileName));
    QVERIFY(named<bool (OssFileDownloader::*)(Name, Name)>(&OssFileDownloader::startDownloadFile));
    QVERIFY(named<bool (OssFileDownloader::*)()>(&OssFileDownloader::stopDownloadFile));
    QVERIFY(named<void (*)(size_t, int64_t, int64_t, void*)>(&OssFileDownloader::DownloadProgressCallback));
    QVERIFY(named<void (OssFileDownloader::*)(size_t, int64_t, int64_t)>(&OssFileDownloader::onSigDownloadProgress));

    QVERIFY(named<void (OssFileUploader::*)(Name)>(&OssFileUploader::setConfigFileName));
    QVERIFY(named<bool (OssFileUploader::*)(bool)>(&OssFileUploader::SetMultipart));
    QVERIFY(named<bool (OssFileUploader::*)(Name, Name)>(&OssFileUploader::startUploadFile));
    QVERIFY(named<bool (OssFileUploader::*)()>(&OssFileUploader::stopUploadFile));
    QVERIFY(named<void (*)(size_t, int64_t, int64_t, void*)>(&OssFileUploader::UploadProgressCallback));
    QVERIFY(named<void (OssFileUploader::*)(size_t, int64_t, int64_t)>(&OssFileUploader::onSigUploadProgress));
    QVERIFY(named<bool (HostUploader::*)()>(&HostUploader::UploadWholeFile));
    QVERIFY(named<bool (HostUploader::*)()>(&HostUploader::UploadMultiPartFile));

    QVERIFY(named<void (OssFileWork::*)(Name)>(&OssFileWork::setConfigFileName));
    QVERIFY(named<bool (OssFileWork::*)(Name)>(&OssFileWork::startListFiles));
    QVERIFY(named<bool (OssFileWork::*)(Name)>(&OssFileWork::startListFileInfo));
    QVERIFY(named<bool (OssFileWork::*)(const std::vector<std::string>&)>(&OssFileWork::startRemoveFiles));
    QVERIFY(named<bool (OssFileWork::*)()>(&OssFileWork::stopFileWork));
    QVERIFY(named<bool (OssFileWork::*)(std::vector<OssFileWork::OssFileInfo>&)>(&OssFileWork::getAllFilesInfo));
    OssFileWork::OssFileInfo info;
    info.fileName = "a";
    info.lastModified = "b";
    QCOMPARE(info.fileSize, int64_t(0));

    QVERIFY(named<void (OssServerStatus::*)(Name, int)>(&OssServerStatus::setConfigFileName));
    QVERIFY(named<bool (OssServerStatus::*)()>(&OssServerStatus::startDetect));
    QVERIFY(named<bool (OssServerStatus::*)()>(&OssServerStatus::stopDetect));
    QVERIFY(named<bool (OssServerStatus::*)(const QString&)>(&OssServerStatus::isHostConnected));

    QVERIFY(named<bool (OssFileEncryption::*)(Name, Name)>(&OssFileEncryption::startEncryptionFile));
    QVERIFY(named<bool (OssFileEncryption::*)()>(&OssFileEncryption::stopEncryptionFile));
    QVERIFY(named<bool (OssFileEncryption::*)() const>(&OssFileEncryption::isSuccessful));
    QVERIFY(named<bool (OssFileDecryption::*)(Name, Name)>(&OssFileDecryption::startDecryptionFile));
    QVERIFY(named<bool (OssFileDecryption::*)()>(&OssFileDecryption::stopDecryptionFile));
    QVERIFY(named<bool (OssFileDecryption::*)() const>(&OssFileDecryption::isSuccessful));

    using Parser = ConfigFileParser;
    QVERIFY(named<bool (Parser::*)(Name, OssLoginInfo&)>(&Parser::ParseOssLoginInfo));
    QVERIFY(named<void (Parser::*)(Name, Name, std::vector<std::string>&)>(&Parser::Stringsplit));
    QVERIFY(named<void (Parser::*)(Name, char, std::vector<std::string>&)>(&Parser::Stringsplit));
    QVERIFY(named<bool (Parser::*)(Name, Name, SoftPackInfo&)>(&Parser::QuerySoftPackageInfo));
    QVERIFY(named<bool (Parser::*)(Name, Name, Name, Name, Name, Name, SoftPackInfo&)>(&Parser::QueryFwPackageInfo));

    using QuilmAes::Aes;
    using State = unsigned char[4][4];
    QVERIFY(named<int (Aes::*)(unsigned char*, int, unsigned char*, int)>(&Aes::AesEncode));
    QVERIFY(named<int (Aes::*)(unsigned char*, int, unsigned char*, int)>(&Aes::AesDecode));
    QVERIFY(named<int (Aes::*)(Name, unsigned char*, int)>(&Aes::AesEncode));
    QVERIFY(named<int (Aes::*)(Name, unsigned char*, int)>(&Aes::AesDecode));
    QVERIFY(named<int (Aes::*)(unsigned char*, int)>(&Aes::KeyExpansion));
    QVERIFY(named<int (Aes::*)(unsigned char*, State)>(&Aes::TranSTRtoArray));
    QVERIFY(named<int (Aes::*)(unsigned char*, State)>(&Aes::TranArraytoSTR));
    QVERIFY(named<int (Aes::*)(State, unsigned int*)>(&Aes::AddRoundKey));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::TranBytes));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::InvTranBytes));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::ShiftRows));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::InvShiftRows));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::MixCols));
    QVERIFY(named<int (Aes::*)(State)>(&Aes::InvMixCols));
    QVERIFY(named<unsigned char (Aes::*)(unsigned char, unsigned char)>(&Aes::Gmul));
    QCOMPARE(QuilmAes::sbox[0], static_cast<unsigned char>(0x63));
    QCOMPARE(QuilmAes::reverse_sbox[0x63], static_cast<unsigned char>(0));
}

// Each signal connected as a host connects it, to a function of exactly its arguments.
void TestHostInterface::signalsKeepTheirTypes()
{
    OssFileDownloader downloader;
    QVERIFY(connect(&downloader, &OssFileDownloader::sigFileDownloadProgress, this,
                    [](QString, QString, qint64, qint64) {}));
    QVERIFY(connect(&downloader, &OssFileDownloader::sigFileDownloadFinished, this, [](QString, QString) {}));
    QVERIFY(connect(&downloader, &OssFileDownloader::sigFileDownloadFailed, this,
                    [](QString, QString, QString, OssFileDownloader::OssErrorCode) {}));

    OssFileUploader uploader;
    QVERIFY(connect(&uploader, &OssFileUploader::sigFileUploadProgress, this, [](QString, QString, qint64, qint64) {}));
    QVERIFY(connect(&uploader, &OssFileUploader::sigFileUploadFinished, this, [](QString, QString) {}));
    QVERIFY(connect(&uploader, &OssFileUploader::sigFileUploadFailed, this,
                    [](QString, QString, QString, OssFileUploader::OssErrorCode) {}));

    OssFileWork work;
    QVERIFY(connect(&work, &OssFileWork::sigFileWorkProgress, this, [](int, QString, qint64, qint64) {}));
    QVERIFY(connect(&work, &OssFileWork::sigFileWorkFinished, this, [](int, QString, qint64, qint64) {}));
    QVERIFY(connect(&work, &OssFileWork::sigFileWorkFailed, this,
                    [](int, QString, qint64, qint64, QString, OssFileWork::OssErrorCode) {}));

    OssServerStatus status;
    QVERIFY(connect(&status, &OssServerStatus::sigNetworkStatus, this, [](QString) {}));

    OssFileEncryption encryption;
    QVERIFY(
        connect(&encryption, &OssFileEncryption::sigEncryptionProgress, this, [](QString, QString, qint64, qint64) {}));
    QVERIFY(connect(&encryption, &OssFileEncryption::sigEncryptionFinished, this, [](QString, QString) {}));
    QVERIFY(connect(&encryption, &OssFileEncryption::sigEncryptionFailed, this,
                    [](QString, QString, OssFileEncryption::OssErrorCode) {}));

    OssFileDecryption decryption;
    QVERIFY(
        connect(&decryption, &OssFileDecryption::sigDecryptionProgress, this, [](QString, QString, qint64, qint64) {}));
    QVERIFY(connect(&decryption, &OssFileDecryption::sigDecryptionFinished, this, [](QString, QString) {}));
    QVERIFY(connect(&decryption, &OssFileDecryption::sigDecryptionFailed, this,
                    [](QString, QString, OssFileDecryption::OssErrorCode) {}));
}

void TestHostInterface::signalSignatures_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QByteArray>("signature");

    const auto row = [](const char* className, const char* signature) {
        QTest::addRow("%s", signature) << QString::fromLatin1(className) << QByteArray(signature);
    };
    row("Nimbrel::OssFileDownloader", "sigFileDownloadProgress(QString,QString,qint64,qint64)");
    row("Nimbrel::OssFileDownloader", "sigFileDownloadFinished(QString,QString)");
    row("Nimbrel::OssFileDownloader", "sigFileDownloadFailed(QString,QString,QString,OssFileDownloader::OssErrorCode)");
    row("Nimbrel::OssFileUploader", "sigFileUploadProgress(QString,QString,qint64,qint64)");
    row("Nimbrel::OssFileUploader", "sigFileUploadFinished(QString,QString)");
    row("Nimbrel::OssFileUploader", "sigFileUploadFailed(QString,QString,QString,OssFileUploader::OssErrorCode)");
    row("Nimbrel::OssFileWork", "sigFileWorkProgress(int,QString,qint64,qint64)");
    row("Nimbrel::OssFileWork", "sigFileWorkFinished(int,QString,qint64,qint64)");
    row("Nimbrel::OssFileWork", "sigFileWorkFailed(int,QString,qint64,qint64,QString,OssFileWork::OssErrorCode)");
    row("Nimbrel::OssServerStatus", "sigNetworkStatus(QString)");
    row("Nimbrel::OssFileEncryption", "sigEncryptionProgress(QString,QString,qint64,qint64)");
    row("Nimbrel::OssFileEncryption", "sigEncryptionFinished(QString,QString)");
    row("Nimbrel::OssFileEncryption", "sigEncryptionFailed(QString,QString,OssFileEncryption::OssErrorCode)");
    row("Nimbrel::OssFileDecryption", "sigDecryptionProgress(QString,QString,qint64,qint64)");
    row("Nimbrel::OssFileDecryption", "sigDecryptionFinished(QString,QString)");
    row("Nimbrel::OssFileDecryption", "sigDecryptionFailed(QString,QString,OssFileDecryption::OssErrorCode)");
}

// The signatures a host names in SIGNAL() connections and in queued calls.
void TestHostInterface::signalSignatures()
{
    QFETCH(QString, className);
    QFETCH(QByteArray, signature);
    const QMetaObject* meta = metaObjectOf(className);
    QVERIFY(meta);
    const int index = meta->indexOfSignal(signature.constData());
    QVERIFY2(index >= 0, signature.constData());
    QCOMPARE(meta->method(index).methodType(), QMetaMethod::Signal);
}

// Names hosts use as they are spelt, and the one class that has nothing but its name.
void TestHostInterface::classesKeepTheirNames()
{
    OssFielConfig config;
    QCOMPARE(config.metaObject()->className(), "Nimbrel::OssFielConfig");
    QVERIFY(!config.parent());
    QCOMPARE(config.metaObject()->methodCount(), QObject::staticMetaObject.methodCount());
    QCOMPARE(OssFileDownloader::staticMetaObject.superClass(), &QThread::staticMetaObject);
    QCOMPARE(OssFileUploader::staticMetaObject.superClass(), &QThread::staticMetaObject);
    QCOMPARE(OssFileWork::staticMetaObject.superClass(), &QThread::staticMetaObject);
    QCOMPARE(OssServerStatus::staticMetaObject.superClass(), &QThread::staticMetaObject);
    QCOMPARE(OssFileEncryption::staticMetaObject.superClass(), &QThread::staticMetaObject);
    QCOMPARE(OssFileDecryption::staticMetaObject.superClass(), &QThread::staticMetaObject);
}

void TestHostInterface::packageQueriesFindNothing()
{
    ConfigFileParser parser;
    SoftPackInfo info{"name", "1.0", "url"};
    QVERIFY(!parser.QuerySoftPackageInfo("Salvix", "3.2.0", info));
    QVERIFY(!parser.QueryFwPackageInfo("p", "m", "h", "f", "c", "v", info));
    QCOMPARE(info.name, std::string("name"));
    QCOMPARE(info.version, std::string("1.0"));
    QCOMPARE(info.url, std::string("url"));
}

void TestHostInterface::cipherRoundTrip()
{
    unsigned char key[] = "0123456789abcdef";
    unsigned char block[16];
    for (int i = 0; i < 16; ++i)
        block[i] = static_cast<unsigned char>(i);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(block, 16, key, 16), 0);
    QVERIFY(aes.encodeOutput);
    unsigned char cipher[16];
    std::copy_n(aes.encodeOutput.get(), 16, cipher);
    QCOMPARE(aes.AesDecode(cipher, 16, key, 16), 0);
    QVERIFY(std::equal(block, block + 16, aes.decodeOutput.get()));
}

// The way a host runs the crypt workers: signals queued to its own thread.
void TestHostInterface::cryptWorkersRunForAHost()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray plain(3000, 'x');
    QFile source(dir.filePath("plain.bin"));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write(plain) == plain.size());
    source.close();

    OssFileEncryption encryption;
    qint64 encrypted = 0;
    bool encryptionEnded = false;
    connect(&encryption, &OssFileEncryption::sigEncryptionProgress, this,
            [&](QString, QString, qint64 done, qint64) { encrypted = done; });
    connect(&encryption, &OssFileEncryption::sigEncryptionFinished, this, [&] { encryptionEnded = true; });
    QVERIFY(
        encryption.startEncryptionFile(dir.filePath("plain.bin").toStdString(), dir.filePath("enc.bin").toStdString()));
    QTRY_VERIFY(encryptionEnded);
    QVERIFY(encryption.isSuccessful());
    QCOMPARE(encrypted, plain.size());

    OssFileDecryption decryption;
    bool decryptionEnded = false;
    connect(&decryption, &OssFileDecryption::sigDecryptionFinished, this, [&] { decryptionEnded = true; });
    QVERIFY(
        decryption.startDecryptionFile(dir.filePath("enc.bin").toStdString(), dir.filePath("out.bin").toStdString()));
    QTRY_VERIFY(decryptionEnded);
    QVERIFY(decryption.isSuccessful());
    QFile out(dir.filePath("out.bin"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), plain);

    QVERIFY(encryption.stopEncryptionFile());
    QVERIFY(decryption.stopDecryptionFile());
}

// Without a configuration file no storage worker reaches the network; each reports it
// with its failed signal, queued to the host, and the monitor ends without a word.
void TestHostInterface::storageWorkersReportAMissingConfiguration()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string config = dir.filePath("missing.cfg").toStdString();
    const std::string local = dir.filePath("local.txt").toStdString();
    QFile localFile(QString::fromStdString(local));
    QVERIFY(localFile.open(QIODevice::WriteOnly) && localFile.write("data") == 4);
    localFile.close();
    QVERIFY(OssInitialize(false));

    OssFileDownloader downloader;
    downloader.setConfigFileName(config);
    int downloadCode = 0;
    connect(&downloader, &OssFileDownloader::sigFileDownloadFailed, this,
            [&](QString, QString, QString, OssFileDownloader::OssErrorCode code) { downloadCode = code; });
    QVERIFY(downloader.startDownloadFile("remote.txt", dir.filePath("download.txt").toStdString()));

    OssFileUploader uploader;
    uploader.setConfigFileName(config);
    QVERIFY(uploader.SetMultipart(false));
    int uploadCode = 0;
    connect(&uploader, &OssFileUploader::sigFileUploadFailed, this,
            [&](QString, QString, QString, OssFileUploader::OssErrorCode code) { uploadCode = code; });
    QVERIFY(uploader.startUploadFile(local, "remote.txt"));

    OssFileWork work;
    work.setConfigFileName(config);
    int workCode = 0;
    connect(&work, &OssFileWork::sigFileWorkFailed, this,
            [&](int, QString, qint64, qint64, QString, OssFileWork::OssErrorCode code) { workCode = code; });
    QVERIFY(work.startListFiles("folder"));

    OssServerStatus status;
    status.setConfigFileName(config, 3000);
    int statusSignals = 0;
    connect(&status, &OssServerStatus::sigNetworkStatus, this, [&] { ++statusSignals; });
    QVERIFY(status.startDetect());

    QTRY_COMPARE(downloadCode, int(OssFileDownloader::ConfigFileError));
    QTRY_COMPARE(uploadCode, int(OssFileUploader::ConfigFileError));
    QTRY_COMPARE(workCode, int(OssFileWork::ConfigFileError));
    QVERIFY(status.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(statusSignals, 0);

    QVERIFY(downloader.stopDownloadFile());
    QVERIFY(uploader.stopUploadFile());
    QVERIFY(work.stopFileWork());
    QVERIFY(status.stopDetect());
    QVERIFY(OssUninitialize());
}

QTEST_GUILESS_MAIN(TestHostInterface)
#include "tst_HostInterface.moc"
