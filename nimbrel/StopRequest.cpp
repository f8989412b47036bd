#include "StopRequest_p.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace Nimbrel {

namespace {

// How long a signal in flight may take before the stop stops waiting for it.
// A direct slot or a blocking-queued one on a free thread returns far sooner.
const int signalPatienceMilliseconds = 100;
const int pollMilliseconds = 5;

} // namespace

void StopRequest::reset()
{
    QMutexLocker locker(&mutex);
    requested.store(false);
    resetSinceJob = true;
}

void StopRequest::beginJob()
{
    QMutexLocker locker(&mutex);
    if (!resetSinceJob)
        requested.store(false);
    resetSinceJob = false;
}

void StopRequest::request()
{
    requested.store(true);
}

bool StopRequest::isRequested() const
{
    return requested.load();
}

bool StopRequest::awaitSignals(const QThread& jobThread)
{
    return deliverWhileInSignal(jobThread, QDeadlineTimer(signalPatienceMilliseconds));
}

bool StopRequest::awaitJob(QThread& jobThread)
{
    if (!awaitSignals(jobThread))
        return false;
    // No signal can follow the request now, so the wait needs no delivery.
    return jobThread.wait();
}

void StopRequest::awaitJobEnd(QThread& jobThread)
{
    if (deliverWhileInSignal(jobThread, QDeadlineTimer(QDeadlineTimer::Forever)))
        jobThread.wait();
}

bool StopRequest::deliverWhileInSignal(const QThread& jobThread, QDeadlineTimer patience)
{
    // From a directly connected slot: the job ends after that slot.
    if (QThread::currentThread() == &jobThread)
        return false;
    waiting.fetch_add(1);
    bool left = true;
    QMutexLocker locker(&mutex);
    while (inSignal.load()) {
        locker.unlock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        locker.relock();
        if (!inSignal.load())
            break;
        if (patience.hasExpired()) {
            left = false;
            break;
        }
        signalLeft.wait(&mutex, pollMilliseconds);
    }
    waiting.fetch_sub(1);
    return left;
}

// With request() and the stop's reading of inSignal, both sequentially
// consistent: either the job sees the request, or the stop sees the signal
// in flight and waits for it.
bool StopRequest::enterSignal()
{
    inSignal.store(true);
    if (!requested.load())
        return true;
    leaveSignal();
    return false;
}

void StopRequest::leaveSignal()
{
    inSignal.store(false);
    if (waiting.load() > 0) {
        QMutexLocker locker(&mutex);
        signalLeft.wakeAll();
    }
}

} // namespace Nimbrel
