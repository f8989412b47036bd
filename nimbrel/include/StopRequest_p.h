#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>

class QThread;

namespace Nimbrel {

// Lets a host end a running job between two steps, shared by every worker.
// The job emits its signals through emitUnlessRequested(); no lock is held
// while a signal is delivered, so a receiver may call back into the worker
// from any thread and with any connection type. Once a stop has returned,
// no further signal of the job is emitted.
class StopRequest
{
public:
    // Caller's thread, before the job's thread starts.
    void reset();
    // Job's thread, at its first step: drops a request left from an earlier
    // job, but not one made since the last reset().
    void beginJob();

    // Any thread; the job emits nothing after it.
    void request();
    bool isRequested() const;

    // Caller's thread, after request(): returns once no signal of the job is
    // being delivered. Meanwhile the calls queued for this thread are
    // delivered, so a blocking-queued signal waiting for it can end. False
    // when called on the job's own thread, or when the signal in flight did
    // not end soon: its slot is then taken to be the caller of this stop, and
    // the job ends as soon as that slot returns.
    bool awaitSignals(const QThread& jobThread);
    // awaitSignals(), then the end of the job's thread; false when the job
    // could not be waited for.
    bool awaitJob(QThread& jobThread);
    // For a destructor, after request(): the thread must have ended before
    // the worker goes, so a signal in flight is waited for however long it takes.
    void awaitJobEnd(QThread& jobThread);

    template <typename Emit>
    void emitUnlessRequested(Emit emitSignal)
    {
        if (!enterSignal())
            return;
        emitSignal();
        leaveSignal();
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
    bool deliverWhileInSignal(const QThread& jobThread, QDeadlineTimer patience);
    bool enterSignal();
    void leaveSignal();

    // A job reports after every small record, so its side of the handshake is
    // two atomic stores and loads; the mutex serves the stops that wait.
    std::atomic<bool> requested{false};
    std::atomic<bool> inSignal{false};
    std::atomic<int> waiting{0};
    QMutex mutex;
    QWaitCondition signalLeft;
    bool resetSinceJob = false;
};

} // namespace Nimbrel
