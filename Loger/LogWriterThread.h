#ifndef LOGWRITERTHREAD_H
#define LOGWRITERTHREAD_H

#include "QuilmLog.h"

#include <QMutex>
#include <QString>
#include <QStringView>
#include <QThread>
#include <QWaitCondition>

#include <memory>
#include <vector>

namespace QuilmLogging {

// The logger's one writer thread. Statements copy their lines, in the order
// they end, into large blocks; the thread takes every filled block at once
// and hands the lines to Logger::write. No line costs an allocation of its
// own, and a statement wakes the thread only when it sleeps on an empty queue.
class LogWriterThread : public QThread
{
public:
    explicit LogWriterThread(Logger& logger);
    // Writes every queued line before it returns.
    ~LogWriterThread() override;

    // Any thread: queues the line prefix + message; starts the thread with
    // the first line.
    void enqueue(QStringView prefix, QStringView message, Level level);
    // Returns once every line queued so far is written; the thread has ended then.
    void drain();

protected:
    void run() override;

private:
    struct LineBlock;
    using BlockPtr = std::unique_ptr<LineBlock>;

    Logger& logger;
    QMutex mutex;
    QWaitCondition lineQueued;
    // Under the mutex: the block being filled, the filled ones in order, and
    // written ones kept for reuse.
    BlockPtr current;
    std::vector<BlockPtr> filled;
    std::vector<BlockPtr> spare;
    bool started = false;
    bool sleeping = false;
    bool draining = false;
};

} // namespace QuilmLogging

#endif // LOGWRITERTHREAD_H
