#pragma once

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class QThread;

namespace Nimbrel {

// How every worker starts, stops and ends a job on its thread. The job emits
// its signals through emitUnlessRequested(); no lock is held while a signal
// is delivered, so a receiver may call back into the worker from any thread
// and with any connection type. Once a stop has returned, no further signal
// of the job is emitted, and the job touches no file any more.
class StopRequest
{
public:
    // Called by request(), on the stopping thread: cancels what the job waits
    // for (a storage request in flight).
    void setCancel(std::function<void()> cancelJob);

    // Caller's thread, before a start: true when no job runs, after waiting
    // for the end of one that has emitted its last signal. False while a job
    // runs, and from the job's own thread.
    bool awaitFinishedJob(QThread& jobThread);
    // Caller's thread, before the job's thread starts.
    void reset();
    // Job's thread, at its first step: drops a request left from an earlier
    // job, but not one made since the last reset().
    void beginJob();

    // Asks a running job to end and returns once it has ended, or without
    // waiting for it from the job's own thread (a directly connected slot)
    // and when a signal of the job has not come back in time while nothing
    // was delivered: its slot is then taken to be the caller of this stop.
    // Meanwhile the calls queued for this thread are delivered, so a
    // blocking-queued signal waiting for it can end. False when it did not wait.
    bool stop(QThread& jobThread);
    // For a destructor: the thread must have ended before the worker goes,
    // so a signal in flight is waited for however long it takes.
    void stopAndAwaitEnd(QThread& jobThread);

    void request();
    bool isRequested() const;

    template <typename Emit>
    void emitUnlessRequested(Emit emitSignal)
    {
        if (!enterSignal())
            return;
        emitSignal();
        leaveSignal();
    }

    // The job's last signal: nothing of the job follows it, so a start may
    // wait for the job's thread to return.
    template <typename Emit>
    void emitLastUnlessRequested(Emit emitSignal)
    {
        lastSignal.store(true);
        emitUnlessRequested(emitSignal);
    }

    // emitSignal(0) to emitSignal(count - 1), stopping at a request made in
    // between; the batch counts as one signal in flight.
    template <typename Emit>
    void emitEachUnlessRequested(int count, Emit emitSignal)
    {
        if (!enterSignal())
            return;
        for (int i = 0; i < count && !requested.load(); ++i)
            emitSignal(i);
        leaveSignal();
    }

private:
    bool deliverWhileInSignal(const QThread& jobThread, bool patient);
    bool enterSignal();
    void leaveSignal();

    // A job reports after every small record, so its side of the handshake is
    // two atomic stores and loads; the mutex serves the stops that wait.
    std::atomic<bool> requested{false};
    std::atomic<bool> inSignal{false};
    std::atomic<bool> lastSignal{false};
    std::atomic<int> waiting{0};
    QMutex mutex;
    QWaitCondition signalLeft;
    bool resetSinceJob = false;
    std::function<void()> cancel;
};

} // namespace Nimbrel
