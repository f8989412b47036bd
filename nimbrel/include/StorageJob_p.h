#pragma once

#include "StopRequest_p.h"
#include "StorageSession_p.h"

#include <QMetaType>
#include <QMutex>

#include <string>

namespace AlibabaCloud {
namespace OSS {
class OssClient;
}
} // namespace AlibabaCloud

class QThread;

namespace Nimbrel {

// The job flow the four storage workers share: the start guard, the stop
// (which also cancels the requests of the job's client, so that a transfer
// in flight ends promptly), the configuration read with its failure, and the
// registration of the worker's error code. The log lines and the signals are
// the worker's.
class StorageJob
{
public:
    explicit StorageJob(QThread& thread);

    // The alias under which a queued connection copies the code argument.
    template <typename Code>
    static void registerCode(const char* name)
    {
        qRegisterMetaType<Code>(QMetaObject::normalizedType(name));
    }

    // Caller's thread: true while a job runs; a job that has emitted its last
    // signal is waited for instead (see StopRequest::awaitFinishedJob).
    bool isBusy();
    // Caller's thread, after the worker stored the job's fields.
    void start();
    // See StopRequest::stop().
    bool stop();
    // For the worker's destructor.
    void stopAndAwaitEnd();

    // Job's thread, at its first step.
    void beginJob();
    bool isStopRequested() const;
    const StopRequest& stopRequest() const { return request; }

    // Job's thread: reads the configuration into the session, then builds the
    // job's client. A configuration failure writes the worker's log line and
    // hands its message to report; null then, and when a stop came first.
    AlibabaCloud::OSS::OssClient* connect(StorageSession& session, const std::string& configFileName,
                                          const ConfigFailureTexts& texts,
                                          const StorageSession::ConfigFailureReport& report);
    // Job's thread: the client goes with its session.
    void detach();

    template <typename Emit>
    void emitUnlessStopped(Emit emitSignal)
    {
        request.emitUnlessRequested(emitSignal);
    }
    template <typename Emit>
    void emitLastUnlessStopped(Emit emitSignal)
    {
        request.emitLastUnlessRequested(emitSignal);
    }

private:
    void cancelClient();

    QThread& thread;
    StopRequest request;
    QMutex clientMutex;
    AlibabaCloud::OSS::OssClient* client = nullptr;
};

} // namespace Nimbrel
