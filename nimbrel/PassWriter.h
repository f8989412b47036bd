#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <QtGlobal>

#include <memory>

class QIODevice;
class QThread;

namespace Nimbrel {

// Writes one buffer at a time into the destination on a thread of its own,
// so that a crypt job reads, converts and reports records meanwhile. The job
// hands a buffer over with write() and takes it back with await(); between
// the two it touches neither the buffer nor the destination.
class PassWriter
{
public:
    explicit PassWriter(QIODevice& dest);
    // Waits for a write in progress, then ends the thread.
    ~PassWriter();
    PassWriter(const PassWriter&) = delete;
    PassWriter& operator=(const PassWriter&) = delete;

    void write(const unsigned char* data, qint64 length);
    // The bytes of the last write that reached the destination; 0 when
    // nothing was handed over since the last await().
    qint64 await();
    // Returns once no write is in progress, from any thread; the job's own
    // await() still gets the written bytes.
    void awaitIdle();

private:
    void run();
    void waitWhilePending();

    QIODevice& dest;
    QMutex mutex;
    QWaitCondition handedOver;
    QWaitCondition done;
    const unsigned char* data = nullptr;
    qint64 length = 0;
    qint64 written = 0;
    bool pending = false;
    bool quit = false;
    std::unique_ptr<QThread> thread;
};

} // namespace Nimbrel
