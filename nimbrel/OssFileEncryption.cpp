#include "OssFileEncryption.h"

#include "BlockRecordWriter.h"
#include "QuilmLog.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

namespace {

bool isSameFile(const QFile& source, const QFile& dest)
{
    const QFileInfo destInfo(dest);
    return destInfo.exists() && QFileInfo(source).canonicalFilePath() == destInfo.canonicalFilePath();
}

QString latin1(const std::string& name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

const char* failureLine(BlockRecordWriter::Result result)
{
    switch (result) {
    case BlockRecordWriter::ReadFailed:
        return "[ OssFileEncryption ] Run read sourceFile fail......";
    case BlockRecordWriter::EncodeFailed:
        return "[ OssFileEncryption ] Run AesEncode fail......";
    case BlockRecordWriter::EncodeOutputMissing:
        return "[ OssFileEncryption ] Run AesEncode 2 fail......";
    case BlockRecordWriter::HeaderWriteFailed:
        return "[ OssFileEncryption ] Run write file header fail......";
    case BlockRecordWriter::CipherWriteFailed:
    case BlockRecordWriter::RecordWritten:
        break;
    }
    return "[ OssFileEncryption ] Run write file fail......";
}

}

OssFileEncryption::OssFileEncryption()
    : QThread(nullptr)
{
    qRegisterMetaType<OssErrorCode>(QMetaObject::normalizedType("OssFileEncryption::OssErrorCode"));
}

OssFileEncryption::~OssFileEncryption()
{
    stopEncryptionFile();
}

bool OssFileEncryption::startEncryptionFile(const std::string& sourceFileName, const std::string& destFileName)
{
    successful = false;
    QLOG_INFO() << "[ OssFileEncryption ] startEncryptionFile sourceFileName = " << sourceFileName.c_str();
    QLOG_INFO() << "[ OssFileEncryption ] startEncryptionFile destFileName = " << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty())
        return false;
    if (isRunning()) {
        QLOG_INFO() << "[ OssFileEncryption ] startEncryptionFile si running";
        return false;
    }
    this->sourceFileName = sourceFileName;
    this->destFileName = destFileName;
    stopRequest.reset();
    start(QThread::InheritPriority);
    QLOG_INFO() << "[ OssFileEncryption ] startEncryptionFile start run";
    return true;
}

bool OssFileEncryption::stopEncryptionFile()
{
    if (isRunning()) {
        stopRequest.request();
        // Called from the job's own thread it cannot wait; the job then ends at its next check.
        if (wait())
            stopRequest.reset();
        successful = false;
    }
    return true;
}

bool OssFileEncryption::isSuccessful() const
{
    return successful;
}

void OssFileEncryption::run()
{
    successful = false;
    QLOG_INFO() << "[ OssFileEncryption ] Run sourceFileName = " << sourceFileName.c_str();
    QLOG_INFO() << "[ OssFileEncryption ] Run destFileName = " << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty()) {
        emitFailed(InvalidParameter);
        return;
    }

    QFile source(QString::fromUtf8(sourceFileName.c_str()));
    if (!source.open(QIODevice::ReadOnly)) {
        QLOG_INFO() << "[ OssFileEncryption ] Run open sourceFile fail......";
        emitFailed(OpenSourceFileError);
        return;
    }
    QFile dest(QString::fromUtf8(destFileName.c_str()));
    // Truncating the source itself would destroy it before a byte was read.
    if (isSameFile(source, dest) || !dest.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        source.close();
        QLOG_INFO() << "[ OssFileEncryption ] Run open destFile fail......";
        emitFailed(OpenDestFileError);
        return;
    }

    BlockRecordWriter writer;
    const qint64 total = source.size();
    qint64 consumed = 0;
    // Converted once: a progress signal follows every record.
    const QString sourceName = latin1(sourceFileName);
    const QString destName = latin1(destFileName);
    while (!source.atEnd()) {
        if (stopRequest.isRequested()) {
            endStopped(source, dest);
            return;
        }
        const BlockRecordWriter::Result result = writer.writeRecord(source, dest);
        if (result != BlockRecordWriter::RecordWritten) {
            failRecord(source, dest, failureLine(result));
            return;
        }
        consumed += writer.chunkLength();
        stopRequest.emitUnlessRequested([&] {
            emit sigEncryptionProgress(sourceName, destName, consumed, total);
        });
    }
    // The last records may still sit in the file's buffer; a full disk shows here.
    if (!dest.flush()) {
        failRecord(source, dest, failureLine(BlockRecordWriter::CipherWriteFailed));
        return;
    }
    source.close();
    dest.close();
    stopRequest.emitUnlessRequested([&] {
        successful = true;
        QLOG_INFO() << "[ OssFileEncryption ] Run write file success......";
        emit sigEncryptionFinished(sourceName, destName);
    });
}

void OssFileEncryption::emitFailed(OssErrorCode status)
{
    stopRequest.emitUnlessRequested([&] {
        emit sigEncryptionFailed(latin1(sourceFileName), latin1(destFileName), status);
    });
}

void OssFileEncryption::failRecord(QFile& source, QFile& dest, const char* logLine)
{
    source.close();
    dest.close();
    QFile::remove(QString::fromUtf8(destFileName.c_str()));
    QLOG_INFO() << logLine;
    emitFailed(FileOperationError);
}

void OssFileEncryption::endStopped(QFile& source, QFile& dest)
{
    source.close();
    dest.close();
    QLOG_INFO() << "[ OssFileEncryption ] Run stopped......";
}

}
