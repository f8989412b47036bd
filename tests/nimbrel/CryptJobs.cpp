#include "CryptJobs.h"

using Nimbrel::OssFileDecryption;
using Nimbrel::OssFileEncryption;

namespace CryptJobs {

void observe(OssFileEncryption& worker, JobOutcome& outcome)
{
    QObject::connect(
        &worker, &OssFileEncryption::sigEncryptionProgress, &worker,
        [&outcome](QString, QString, qint64 done, qint64 total) {
            outcome.progress.append({done, total});
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &OssFileEncryption::sigEncryptionFinished, &worker,
        [&outcome](QString source, QString dest) {
            ++outcome.finished;
            outcome.names = QStringList{source, dest};
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &OssFileEncryption::sigEncryptionFailed, &worker,
        [&outcome](QString source, QString dest, OssFileEncryption::OssErrorCode status) {
            outcome.failedCodes.append(status);
            outcome.names = QStringList{source, dest};
        },
        Qt::DirectConnection);
}

void observe(OssFileDecryption& worker, JobOutcome& outcome)
{
    QObject::connect(
        &worker, &OssFileDecryption::sigDecryptionProgress, &worker,
        [&outcome](QString, QString, qint64 done, qint64 total) {
            outcome.progress.append({done, total});
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &OssFileDecryption::sigDecryptionFinished, &worker,
        [&outcome](QString source, QString dest) {
            ++outcome.finished;
            outcome.names = QStringList{source, dest};
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &OssFileDecryption::sigDecryptionFailed, &worker,
        [&outcome](QString source, QString dest, OssFileDecryption::OssErrorCode status) {
            outcome.failedCodes.append(status);
            outcome.names = QStringList{source, dest};
        },
        Qt::DirectConnection);
}

bool start(OssFileEncryption& worker, const QString& source, const QString& dest)
{
    return worker.startEncryptionFile(source.toStdString(), dest.toStdString());
}

bool start(OssFileDecryption& worker, const QString& source, const QString& dest)
{
    return worker.startDecryptionFile(source.toStdString(), dest.toStdString());
}

bool stop(OssFileEncryption& worker)
{
    return worker.stopEncryptionFile();
}

bool stop(OssFileDecryption& worker)
{
    return worker.stopDecryptionFile();
}

} // namespace CryptJobs
