#include "OssFileDecryption.h"

#include "BlockRecordReader.h"

#include <QFile>
#include <QMetaObject>

namespace Nimbrel {

static_assert(int(OssFileDecryption::FileOperationError) == BlockRecordJob::RecordFailed
                  && int(OssFileDecryption::OpenSourceFileError) == BlockRecordJob::OpenSourceFailed
                  && int(OssFileDecryption::OpenDestFileError) == BlockRecordJob::OpenDestFailed
                  && int(OssFileDecryption::InvalidParameter) == BlockRecordJob::InvalidParameter,
              "the job's failures are cast to OssErrorCode");

namespace {

const BlockRecordJob::LogLines logLines{
    "[ OssFileDecryption ] startDecryptionFile sourceFileName = ",
    "[ OssFileDecryption ] startDecryptionFile destFileName = ",
    "[ OssFileDecryption ] startDecryptionFile thread is running",
    "[ OssFileDecryption ] startDecryptionFile thread start run",
    "[ OssFileDecryption ] run sourceFileName = ",
    "[ OssFileDecryption ] run destFileName = ",
    "[ OssFileDecryption ] run open source file failed",
    "[ OssFileDecryption ] run open dest file failed",
    "[ OssFileDecryption ] run stopped",
    "[ OssFileDecryption ] run finished",
};

class DecryptionStep : public BlockRecordJob::Step
{
public:
    bool atEnd(QFile& source) const override { return reader.atEnd(source); }

    const char* convert(QFile& source, RecordPass& pass) override
    {
        switch (reader.readRecords(source, pass)) {
        case BlockRecordReader::RecordsRead: return nullptr;
        case BlockRecordReader::HeaderReadFailed: return "[ OssFileDecryption ] run read source file failed";
        case BlockRecordReader::HeaderInvalid: return "[ OssFileDecryption ] run read source file header failed";
        case BlockRecordReader::ContentReadFailed: return "[ OssFileDecryption ] run read source file content failed";
        case BlockRecordReader::DecodeFailed: return "[ OssFileDecryption ] run AesDecode source file failed";
        case BlockRecordReader::PadOutOfRange: break;
        }
        return "[ OssFileDecryption ] run source file pad count failed";
    }

    const char* writeFailureLine(int) const override { return "[ OssFileDecryption ] run write to dest file failed"; }

private:
    BlockRecordReader reader;
};

} // namespace

OssFileDecryption::OssFileDecryption()
    : QThread(nullptr)
    , job(*this, logLines)
{
    qRegisterMetaType<OssErrorCode>(QMetaObject::normalizedType("OssFileDecryption::OssErrorCode"));
}

OssFileDecryption::~OssFileDecryption()
{
    job.stopAndAwaitEnd();
}

bool OssFileDecryption::startDecryptionFile(const std::string& sourceFileName, const std::string& destFileName)
{
    return job.start(sourceFileName, destFileName);
}

bool OssFileDecryption::stopDecryptionFile()
{
    return job.stop();
}

bool OssFileDecryption::isSuccessful() const
{
    return job.isSuccessful();
}

void OssFileDecryption::run()
{
    DecryptionStep step;
    job.run(step, {[this](const QString& source, const QString& dest, qint64 consumed, qint64 total) {
                       emit sigDecryptionProgress(source, dest, consumed, total);
                   },
                   [this](const QString& source, const QString& dest) { emit sigDecryptionFinished(source, dest); },
                   [this](const QString& source, const QString& dest, BlockRecordJob::Failure failure) {
                       emit sigDecryptionFailed(source, dest, static_cast<OssErrorCode>(failure));
                   }});
}

} // namespace Nimbrel
