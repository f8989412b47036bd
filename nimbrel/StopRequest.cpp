#include "StopRequest.h"

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
    requested = false;
    resetSinceJob = true;
}

void StopRequest::beginJob()
{
    QMutexLocker locker(&mutex);
    if (!resetSinceJob)
        requested = false;
    resetSinceJob = false;
}

void StopRequest::request()
{
    QMutexLocker locker(&mutex);
    requested = true;
}

bool StopRequest::isRequested() const
{
    QMutexLocker locker(&mutex);
    return requested;
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
    QMutexLocker locker(&mutex);
    while (inSignal) {
        locker.unlock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        locker.relock();
        if (!inSignal)
            break;
        if (patience.hasExpired())
            return false;
        signalLeft.wait(&mutex, pollMilliseconds);
    }
    return true;
}

bool StopRequest::enterSignal()
{
    QMutexLocker locker(&mutex);
    if (requested)
        return false;
    inSignal = true;
    return true;
}

void StopRequest::leaveSignal()
{
    QMutexLocker locker(&mutex);
    inSignal = false;
    signalLeft.wakeAll();
}

} // namespace Nimbrel
