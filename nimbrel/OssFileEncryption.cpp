#include "OssFileEncryption.h"

#include "BlockRecordWriter.h"

#include <QFile>
#include <QMetaObject>

namespace Nimbrel {

static_assert(int(OssFileEncryption::FileOperationError) == BlockRecordJob::RecordFailed
                  && int(OssFileEncryption::OpenSourceFileError) == BlockRecordJob::OpenSourceFailed
                  && int(OssFileEncryption::OpenDestFileError) == BlockRecordJob::OpenDestFailed
                  && int(OssFileEncryption::InvalidParameter) == BlockRecordJob::InvalidParameter,
              "the job's failures are cast to OssErrorCode");

namespace {

const BlockRecordJob::LogLines logLines{
    "[ OssFileEncryption ] startEncryptionFile sourceFileName = ",
    "[ OssFileEncryption ] startEncryptionFile destFileName = ",
    "[ OssFileEncryption ] startEncryptionFile si running",
    "[ OssFileEncryption ] startEncryptionFile start run",
    "[ OssFileEncryption ] Run sourceFileName = ",
    "[ OssFileEncryption ] Run destFileName = ",
    "[ OssFileEncryption ] Run open sourceFile fail......",
    "[ OssFileEncryption ] Run open destFile fail......",
    "[ OssFileEncryption ] Run stopped......",
    "[ OssFileEncryption ] Run write file success......",
};

class EncryptionStep : public BlockRecordJob::Step
{
public:
    bool atEnd(QFile& source) const override { return source.atEnd(); }

    const char* convert(QFile& source, RecordPass& pass) override
    {
        return writer.encodeRecords(source, pass) ? nullptr : "[ OssFileEncryption ] Run read sourceFile fail......";
    }

    const char* writeFailureLine(int offset) const override
    {
        return offset < BlockRecordWriter::headerLength ? "[ OssFileEncryption ] Run write file header fail......"
                                                        : "[ OssFileEncryption ] Run write file fail......";
    }

private:
    BlockRecordWriter writer;
};

} // namespace

OssFileEncryption::OssFileEncryption()
    : QThread(nullptr)
    , job(*this, logLines)
{
    qRegisterMetaType<OssErrorCode>(QMetaObject::normalizedType("OssFileEncryption::OssErrorCode"));
}

OssFileEncryption::~OssFileEncryption()
{
    job.stopAndAwaitEnd();
}

bool OssFileEncryption::startEncryptionFile(const std::string& sourceFileName, const std::string& destFileName)
{
    return job.start(sourceFileName, destFileName);
}

bool OssFileEncryption::stopEncryptionFile()
{
    return job.stop();
}

bool OssFileEncryption::isSuccessful() const
{
    return job.isSuccessful();
}

void OssFileEncryption::run()
{
    EncryptionStep step;
    job.run(step, {[this](const QString& source, const QString& dest, qint64 consumed, qint64 total) {
                       emit sigEncryptionProgress(source, dest, consumed, total);
                   },
                   [this](const QString& source, const QString& dest) { emit sigEncryptionFinished(source, dest); },
                   [this](const QString& source, const QString& dest, BlockRecordJob::Failure failure) {
                       emit sigEncryptionFailed(source, dest, static_cast<OssErrorCode>(failure));
                   }});
}

} // namespace Nimbrel
