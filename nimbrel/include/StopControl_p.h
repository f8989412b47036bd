#pragma once

#include "StopRequest_p.h"

#include <QMutex>

namespace AlibabaCloud {
namespace OSS {
class OssClient;
}
} // namespace AlibabaCloud

class QThread;

namespace Nimbrel {

// The stop request of a storage job, which also cancels the requests of the
// job's client, so that a transfer in flight ends promptly.
class StopControl
{
public:
    // Caller's thread, before the job starts.
    void reset();
    // Job's thread, first step (see StopRequest::beginJob).
    void beginJob();
    // Caller's thread, while the job runs.
    void requestStop();
    bool isStopRequested() const;
    // After requestStop(), see StopRequest.
    bool awaitSignals(const QThread& jobThread);
    bool awaitJob(QThread& jobThread);
    void awaitJobEnd(QThread& jobThread);

    // Worker thread: the job's client while it exists. attach() returns false
    // when the stop came first (the client is then cancelled already).
    bool attach(AlibabaCloud::OSS::OssClient* client);
    void detach();

    // No signal of the job follows a stop request.
    template <typename Emit>
    void emitUnlessStopped(Emit emitSignal)
    {
        stopRequest.emitUnlessRequested(emitSignal);
    }

private:
    StopRequest stopRequest;
    QMutex clientMutex;
    AlibabaCloud::OSS::OssClient* client = nullptr;
};

} // namespace Nimbrel
