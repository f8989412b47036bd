#include "StorageFixtures.h"

#include <QRandomGenerator>
#include <QTest>
#include <QThread>

namespace StorageFixtures {

QByteArray randomBytes(int size, quint32 seedOffset)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(quint32(size) + seedOffset);
    for (char& byte : data)
        byte = static_cast<char>(generator.bounded(256));
    return data;
}

WorkerSpies spiesOf(Nimbrel::OssFileDownloader& worker)
{
    using Nimbrel::OssFileDownloader;
    return {worker, &OssFileDownloader::sigFileDownloadProgress, &OssFileDownloader::sigFileDownloadFinished,
            &OssFileDownloader::sigFileDownloadFailed};
}

WorkerSpies spiesOf(Nimbrel::OssFileUploader& worker)
{
    using Nimbrel::OssFileUploader;
    return {worker, &OssFileUploader::sigFileUploadProgress, &OssFileUploader::sigFileUploadFinished,
            &OssFileUploader::sigFileUploadFailed};
}

WorkerSpies spiesOf(Nimbrel::OssFileWork& worker)
{
    using Nimbrel::OssFileWork;
    return {worker, &OssFileWork::sigFileWorkProgress, &OssFileWork::sigFileWorkFinished,
            &OssFileWork::sigFileWorkFailed};
}

void runToEnd(QThread& worker, const WorkerSpies& spies)
{
    QTRY_COMPARE_WITH_TIMEOUT(spies.ends(), 1, 30000);
    QVERIFY(worker.wait(5000));
    QTest::qWait(20);
    QCOMPARE(spies.ends(), 1);
}

} // namespace StorageFixtures
