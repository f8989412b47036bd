#pragma once

#include "QuilmLog.h"

#include <QMutex>
#include <QStringView>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

namespace QuilmLogging {

class LineChunk;

// The logger's one writer thread and its queue of lines. A statement links
// its line to the queue's tail with one atomic exchange, so statements never
// wait for each other, and the lines are written in the order of those
// exchanges. The thread is woken only when it sleeps on an empty queue.
class LogWriterThread : public QThread
{
public:
    explicit LogWriterThread(Logger& logger);
    // Writes every queued line before it returns.
    ~LogWriterThread() override;

    // Any thread: queues the line prefix + message; the first line starts
    // the thread.
    void enqueue(QStringView prefix, QStringView message, Level level);
    // Returns once every line queued so far is written; the thread has ended then.
    void drain();

protected:
    void run() override;

private:
    struct Line
    {
        std::atomic<Line*> next{nullptr};
        LineChunk* chunk = nullptr;
        qsizetype length = 0;
        Level level = Info;

        char16_t* text() { return reinterpret_cast<char16_t*>(this + 1); }
    };

    void wakeWriter();
    void waitForLines();
    void release(Line* line);

    Logger& logger;
    // A multi-producer, single-consumer linked queue: producers exchange the
    // tail, the writer follows the links from head, which is the last line
    // written (or the stub) and stays allocated until a line follows it.
    // What every statement writes, what it only reads and what the writer
    // writes lie on separate cache lines.
    Line stub;
    alignas(64) std::atomic<Line*> tail{&stub};
    alignas(64) std::atomic<bool> started{false};
    std::atomic<bool> sleeping{false};
    std::atomic<bool> draining{false};
    alignas(64) Line* head = &stub;
    QMutex wakeMutex;
    QWaitCondition woken;
    bool wakeRequested = false;
};

} // namespace QuilmLogging
