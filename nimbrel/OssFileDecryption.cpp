#include "OssFileDecryption.h"

#include "BlockRecordReader.h"
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

const char* failureLine(BlockRecordReader::Result result)
{
    switch (result) {
    case BlockRecordReader::HeaderReadFailed:
        return "[ OssFileDecryption ] run read source file failed";
    case BlockRecordReader::HeaderInvalid:
        return "[ OssFileDecryption ] run read source file header failed";
    case BlockRecordReader::ContentReadFailed:
        return "[ OssFileDecryption ] run read source file content failed";
    case BlockRecordReader::DecodeFailed:
        return "[ OssFileDecryption ] run AesDecode source file failed";
    case BlockRecordReader::DecodeOutputMissing:
        return "[ OssFileDecryption ] run AesDecode 2 source file failed";
    case BlockRecordReader::PadOutOfRange:
        return "[ OssFileDecryption ] run source file pad count failed";
    case BlockRecordReader::WriteFailed:
    case BlockRecordReader::RecordRead:
        break;
    }
    return "[ OssFileDecryption ] run write to dest file failed";
}

}

OssFileDecryption::OssFileDecryption()
    : QThread(nullptr)
{
    qRegisterMetaType<OssErrorCode>(QMetaObject::normalizedType("OssFileDecryption::OssErrorCode"));
}

OssFileDecryption::~OssFileDecryption()
{
    stopDecryptionFile();
}

bool OssFileDecryption::startDecryptionFile(const std::string& sourceFileName, const std::string& destFileName)
{
    successful = false;
    QLOG_INFO() << "[ OssFileDecryption ] startDecryptionFile sourceFileName = " << sourceFileName.c_str();
    QLOG_INFO() << "[ OssFileDecryption ] startDecryptionFile destFileName = " << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty())
        return false;
    if (isRunning()) {
        QLOG_INFO() << "[ OssFileDecryption ] startDecryptionFile thread is running";
        return false;
    }
    this->sourceFileName = sourceFileName;
    this->destFileName = destFileName;
    stopRequest.reset();
    start(QThread::InheritPriority);
    QLOG_INFO() << "[ OssFileDecryption ] startDecryptionFile thread start run";
    return true;
}

bool OssFileDecryption::stopDecryptionFile()
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

bool OssFileDecryption::isSuccessful() const
{
    return successful;
}

void OssFileDecryption::run()
{
    successful = false;
    QLOG_INFO() << "[ OssFileDecryption ] run sourceFileName = " << sourceFileName.c_str();
    QLOG_INFO() << "[ OssFileDecryption ] run destFileName = " << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty()) {
        emitFailed(InvalidParameter);
        return;
    }

    QFile source(QString::fromUtf8(sourceFileName.c_str()));
    if (!source.open(QIODevice::ReadOnly)) {
        QLOG_INFO() << "[ OssFileDecryption ] run open source file failed";
        emitFailed(OpenSourceFileError);
        return;
    }
    QFile dest(QString::fromUtf8(destFileName.c_str()));
    // Truncating the source itself would destroy it before a byte was read.
    if (isSameFile(source, dest) || !dest.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        source.close();
        QLOG_INFO() << "[ OssFileDecryption ] run open dest file failed";
        emitFailed(OpenDestFileError);
        return;
    }

    BlockRecordReader reader;
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
        const BlockRecordReader::Result result = reader.readRecord(source, dest);
        if (result != BlockRecordReader::RecordRead) {
            failRecord(source, dest, failureLine(result));
            return;
        }
        consumed += reader.cipherLength();
        stopRequest.emitUnlessRequested([&] {
            emit sigDecryptionProgress(sourceName, destName, consumed, total);
        });
    }
    // The last records may still sit in the file's buffer; a full disk shows here.
    if (!dest.flush()) {
        failRecord(source, dest, failureLine(BlockRecordReader::WriteFailed));
        return;
    }
    source.close();
    dest.close();
    stopRequest.emitUnlessRequested([&] {
        successful = true;
        QLOG_INFO() << "[ OssFileDecryption ] run finished";
        emit sigDecryptionFinished(sourceName, destName);
    });
}

void OssFileDecryption::emitFailed(OssErrorCode status)
{
    stopRequest.emitUnlessRequested(
        [&] { emit sigDecryptionFailed(latin1(sourceFileName), latin1(destFileName), status); });
}

void OssFileDecryption::failRecord(QFile& source, QFile& dest, const char* logLine)
{
    source.close();
    dest.close();
    QFile::remove(QString::fromUtf8(destFileName.c_str()));
    QLOG_INFO() << logLine;
    emitFailed(FileOperationError);
}

void OssFileDecryption::endStopped(QFile& source, QFile& dest)
{
    source.close();
    dest.close();
    QLOG_INFO() << "[ OssFileDecryption ] run stopped";
}

}
