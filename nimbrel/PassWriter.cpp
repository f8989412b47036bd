#include "PassWriter.h"

#include <QIODevice>
#include <QThread>

namespace Nimbrel {

PassWriter::PassWriter(QIODevice& dest)
    : dest(dest)
    , thread(QThread::create([this] { run(); }))
{
    thread->start();
}

PassWriter::~PassWriter()
{
    {
        QMutexLocker locker(&mutex);
        quit = true;
        handedOver.wakeOne();
    }
    thread->wait();
}

void PassWriter::write(const unsigned char* bytes, qint64 count)
{
    QMutexLocker locker(&mutex);
    data = bytes;
    length = count;
    written = 0;
    pending = true;
    handedOver.wakeOne();
}

qint64 PassWriter::await()
{
    QMutexLocker locker(&mutex);
    waitWhilePending();
    const qint64 result = written;
    written = 0;
    return result;
}

void PassWriter::awaitIdle()
{
    QMutexLocker locker(&mutex);
    waitWhilePending();
}

// With the mutex held.
void PassWriter::waitWhilePending()
{
    while (pending)
        done.wait(&mutex);
}

void PassWriter::run()
{
    QMutexLocker locker(&mutex);
    for (;;) {
        while (!pending && !quit)
            handedOver.wait(&mutex);
        // A pass handed over is written before the thread ends.
        if (!pending)
            return;
        const char* bytes = reinterpret_cast<const char*>(data);
        const qint64 count = length;
        locker.unlock();
        const qint64 result = dest.write(bytes, count);
        locker.relock();
        written = qMax<qint64>(result, 0);
        pending = false;
        done.wakeAll();
    }
}

} // namespace Nimbrel
