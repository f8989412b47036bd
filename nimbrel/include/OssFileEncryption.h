#pragma once

#include "BlockRecordJob_p.h"
#include "NimbrelExport.h"

#include <QString>
#include <QThread>

#include <string>

namespace Nimbrel {

// Encrypts a local file into block records on its own thread.
class NIMBREL_EXPORT OssFileEncryption : public QThread
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

    OssFileEncryption();
    ~OssFileEncryption() override;

    bool startEncryptionFile(const std::string& sourceFileName, const std::string& destFileName);
    // Ends a running job after its current record and returns once it has
    // ended (from a slot of the job's own signal: without waiting for it); no
    // signal follows, the destination stays as far as written.
    bool stopEncryptionFile();
    bool isSuccessful() const;

signals:
    void sigEncryptionProgress(QString sourceFileName, QString destFileName, qint64 encryptionDealed,
                               qint64 fileTotalSize);
    void sigEncryptionFinished(QString sourceFileName, QString destFileName);
    void sigEncryptionFailed(QString sourceFileName, QString destFileName, OssFileEncryption::OssErrorCode status);

protected:
    void run() override;

private:
    BlockRecordJob job;
};

} // namespace Nimbrel

Q_DECLARE_METATYPE(Nimbrel::OssFileEncryption::OssErrorCode)
