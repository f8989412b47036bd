#pragma once

#include "BlockRecordJob_p.h"
#include "NimbrelExport.h"

#include <QString>
#include <QThread>

#include <string>

namespace Nimbrel {

// Decrypts a block-record file into a plain file on its own thread.
class NIMBREL_EXPORT OssFileDecryption : public QThread
{
    Q_OBJECT

public:
    enum OssErrorCode {
        OssServiceError = 1,
        FileOperationError = 4,
        ConfigFileError = 5,
        OpenSourceFileError = 6,
        OpenDestFileError = 7,
        InvalidParameter = 8
    };

    OssFileDecryption();
    ~OssFileDecryption() override;

    bool startDecryptionFile(const std::string& sourceFileName, const std::string& destFileName);
    // Ends a running job after its current record and returns once it has
    // ended (from a slot of the job's own signal: without waiting for it); no
    // signal follows, the destination stays as far as written.
    bool stopDecryptionFile();
    bool isSuccessful() const;

signals:
    void sigDecryptionProgress(QString sourceFileName, QString destFileName, qint64 encryptionDealed,
                               qint64 fileTotalSize);
    void sigDecryptionFinished(QString sourceFileName, QString destFileName);
    void sigDecryptionFailed(QString sourceFileName, QString destFileName, OssFileDecryption::OssErrorCode status);

protected:
    void run() override;

private:
    BlockRecordJob job;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssFileDecryption::OssErrorCode)
