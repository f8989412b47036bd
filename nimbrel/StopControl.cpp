#include "StopControl_p.h"

#include <alibabacloud/oss/OssClient.h>

namespace Nimbrel {

void StopControl::reset()
{
    stopRequest.reset();
}

void StopControl::beginJob()
{
    stopRequest.beginJob();
}

// The flag is set before the client is looked at, and attach() stores the
// client before it reads the flag: whichever comes second cancels the client.
void StopControl::requestStop()
{
    stopRequest.request();
    QMutexLocker locker(&clientMutex);
    if (client)
        client->DisableRequest();
}

bool StopControl::isStopRequested() const
{
    return stopRequest.isRequested();
}

bool StopControl::awaitSignals(const QThread& jobThread)
{
    return stopRequest.awaitSignals(jobThread);
}

bool StopControl::awaitJob(QThread& jobThread)
{
    return stopRequest.awaitJob(jobThread);
}

void StopControl::awaitJobEnd(QThread& jobThread)
{
    stopRequest.awaitJobEnd(jobThread);
}

bool StopControl::attach(AlibabaCloud::OSS::OssClient* jobClient)
{
    QMutexLocker locker(&clientMutex);
    client = jobClient;
    if (!stopRequest.isRequested())
        return true;
    client->DisableRequest();
    return false;
}

void StopControl::detach()
{
    QMutexLocker locker(&clientMutex);
    client = nullptr;
}

} // namespace Nimbrel
