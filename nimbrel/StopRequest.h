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

private:
    mutable QRecursiveMutex mutex;
    bool requested = false;
};

}
