#pragma once

#include <QMutex>
#include <QMutexLocker>

namespace Nimbrel {

// Lets the caller's thread end a running job between two steps. The job emits
// its signals through emitUnlessRequested(), so once request() has returned no
// signal of the job follows. Recursive, so a directly connected receiver may
// call back into the worker.
class StopRequest
{
public:
    // Caller's thread, before the job starts.
    void reset()
    {
        QMutexLocker locker(&mutex);
        requested = false;
    }

    void request()
    {
        QMutexLocker locker(&mutex);
        requested = true;
    }

    bool isRequested() const
    {
        QMutexLocker locker(&mutex);
        return requested;
    }

    template <typename Emit>
    void emitUnlessRequested(Emit emitSignal)
    {
        QMutexLocker locker(&mutex);
        if (!requested)
            emitSignal();
    }

    // emitSignal(0) to emitSignal(count - 1) under one lock, stopping at a
    // request that a directly connected receiver makes in between.
    template <typename Emit>
    void emitEachUnlessRequested(int count, Emit emitSignal)
    {
        QMutexLocker locker(&mutex);
        for (int i = 0; i < count && !requested; ++i)
            emitSignal(i);
    }

private:
    mutable QRecursiveMutex mutex;
    bool requested = false;
};

}
