#include "StorageJob_p.h"

#include <alibabacloud/oss/OssClient.h>

#include <QThread>

namespace Nimbrel {

StorageJob::StorageJob(QThread& thread)
    : thread(thread)
{
    request.setCancel([this] { cancelClient(); });
}

bool StorageJob::isBusy()
{
    return !request.awaitFinishedJob(thread);
}

void StorageJob::start()
{
    request.reset();
    thread.start(QThread::InheritPriority);
}

bool StorageJob::stop()
{
    return request.stop(thread);
}

void StorageJob::stopAndAwaitEnd()
{
    request.stopAndAwaitEnd(thread);
}

void StorageJob::beginJob()
{
    request.beginJob();
}

bool StorageJob::isStopRequested() const
{
    return request.isRequested();
}

// The flag is set before the client is looked at, and connect() stores the
// client before it reads the flag: whichever comes second cancels the client.
void StorageJob::cancelClient()
{
    QMutexLocker locker(&clientMutex);
    if (client)
        client->DisableRequest();
}

AlibabaCloud::OSS::OssClient* StorageJob::connect(StorageSession& session, const std::string& configFileName,
                                                  const ConfigFailureTexts& texts,
                                                  const StorageSession::ConfigFailureReport& report)
{
    if (!session.readConfig(configFileName, texts, report))
        return nullptr;
    AlibabaCloud::OSS::OssClient* jobClient = session.connect(*this);
    QMutexLocker locker(&clientMutex);
    client = jobClient;
    if (!request.isRequested())
        return client;
    client->DisableRequest();
    return nullptr;
}

void StorageJob::detach()
{
    QMutexLocker locker(&clientMutex);
    client = nullptr;
}

} // namespace Nimbrel
