#include "StopRequest_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

namespace Nimbrel {

namespace {

// How long a signal in flight may stay out while the stop delivers nothing
// before the stop takes its slot to be the stop's caller. A direct slot or a
// blocking-queued one on a free thread returns far sooner; time spent in a
// slot the stop delivered itself does not count.
const qint64 signalPatienceMilliseconds = 100;
const unsigned long pollMilliseconds = 5;

} // namespace

void StopRequest::setCancel(std::function<void()> cancelJob)
{
    cancel = std::move(cancelJob);
}

bool StopRequest::awaitFinishedJob(QThread& jobThread)
{
    if (!jobThread.isRunning())
        return true;
    // Waiting for the last signal, from its blocking-queued slot, would wait
    // for this caller: the patience refuses then.
    if (!lastSignal.load() || !deliverWhileInSignal(jobThread, true))
        return false;
    return jobThread.wait();
}

void StopRequest::reset()
{
    QMutexLocker locker(&mutex);
    requested.store(false);
    lastSignal.store(false);
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
    if (cancel)
        cancel();
}

bool StopRequest::isRequested() const
{
    return requested.load();
}

bool StopRequest::stop(QThread& jobThread)
{
    if (!jobThread.isRunning())
        return true;
    request();
    if (!deliverWhileInSignal(jobThread, true))
        return false;
    // No signal can follow the request now, so the wait needs no delivery.
    return jobThread.wait();
}

void StopRequest::stopAndAwaitEnd(QThread& jobThread)
{
    if (!jobThread.isRunning())
        return;
    request();
    if (deliverWhileInSignal(jobThread, false))
        jobThread.wait();
}

bool StopRequest::deliverWhileInSignal(const QThread& jobThread, bool patient)
{
    // From a directly connected slot: the job ends after that slot.
    if (QThread::currentThread() == &jobThread)
        return false;
    waiting.fetch_add(1);
    bool left = true;
    qint64 idleMilliseconds = 0;
    QElapsedTimer idle;
    QMutexLocker locker(&mutex);
    while (inSignal.load()) {
        locker.unlock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        locker.relock();
        if (!inSignal.load())
            break;
        if (patient && idleMilliseconds >= signalPatienceMilliseconds) {
            left = false;
            break;
        }
        idle.start();
        signalLeft.wait(&mutex, pollMilliseconds);
        idleMilliseconds += idle.elapsed();
    }
    waiting.fetch_sub(1);
    return left;
}

// With request() and the stop's reading of inSignal, both sequentially
// consistent: either the job sees the request, or the stop sees the signal
// in flight and waits for it. A stop that returns without waiting has seen
// the signal in flight, so the job sees the request once the signal is back.
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
