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

    BlockRecordJob::Records next(QFile& source, QFile& dest) override
    {
        const BlockRecordWriter::Result result = writer.writeRecords(source, dest);
        return {failureLine(result), writer.recordCount(), writer.chunkLengths()};
    }

private:
    static const char* failureLine(BlockRecordWriter::Result result)
    {
        switch (result) {
        case BlockRecordWriter::RecordsWritten: return nullptr;
        case BlockRecordWriter::ReadFailed: return "[ OssFileEncryption ] Run read sourceFile fail......";
        case BlockRecordWriter::HeaderWriteFailed: return "[ OssFileEncryption ] Run write file header fail......";
        case BlockRecordWriter::WriteFailed: break;
        }
        return "[ OssFileEncryption ] Run write file fail......";
    }

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
