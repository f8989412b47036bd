#include "LogWriterThread.h"

#include "LineChunk.h"

#include <QString>

#include <algorithm>
#include <new>

namespace QuilmLogging {

LogWriterThread::LogWriterThread(Logger& logger)
    : logger(logger)
{
    setObjectName(QStringLiteral("QuilmLog writer"));
}

LogWriterThread::~LogWriterThread()
{
    drain();
    release(head);
}

void LogWriterThread::enqueue(QStringView prefix, QStringView message, Level level)
{
    const qsizetype length = prefix.size() + message.size();
    LineChunk* chunk = nullptr;
    void* memory = LineChunk::allocate(sizeof(Line) + sizeof(char16_t) * static_cast<std::size_t>(length), chunk);
    Line* line = new (memory) Line;
    line->chunk = chunk;
    line->length = length;
    line->level = level;
    // An empty view may have no data at all, which memcpy must not be given.
    std::copy_n(prefix.utf16(), prefix.size(), line->text());
    std::copy_n(message.utf16(), message.size(), line->text() + prefix.size());

    // The exchange orders the line; until the link is stored the writer sees
    // the tail move and waits for it.
    Line* previous = tail.exchange(line, std::memory_order_seq_cst);
    previous->next.store(line, std::memory_order_release);

    if (!started.load(std::memory_order_relaxed) && !started.exchange(true)) {
        start();
        return;
    }
    // Pairs with the writer's store of `sleeping` before it looks at the tail
    // a last time: either it sees this line, or this sees it asleep.
    if (sleeping.load(std::memory_order_seq_cst) && sleeping.exchange(false))
        wakeWriter();
}

void LogWriterThread::drain()
{
    draining.store(true);
    wakeWriter();
    wait();
}

void LogWriterThread::wakeWriter()
{
    QMutexLocker locker(&wakeMutex);
    wakeRequested = true;
    woken.wakeOne();
}

void LogWriterThread::waitForLines()
{
    QMutexLocker locker(&wakeMutex);
    while (!wakeRequested)
        woken.wait(&wakeMutex);
    wakeRequested = false;
}

// A line's memory goes once the writer has moved past it.
void LogWriterThread::release(Line* line)
{
    if (line == &stub)
        return;
    LineChunk* chunk = line->chunk;
    line->~Line();
    chunk->lineWritten();
}

void LogWriterThread::run()
{
    // One string for every line: a destination that keeps no copy of it
    // costs no allocation.
    QString text;
    for (;;) {
        if (Line* next = head->next.load(std::memory_order_acquire)) {
            text.setUnicode(reinterpret_cast<const QChar*>(next->text()), next->length);
            logger.write(text, next->level);
            Line* written = head;
            head = next;
            release(written);
            continue;
        }
        if (tail.load(std::memory_order_acquire) != head) {
            // A statement between its exchange and its link.
            yieldCurrentThread();
            continue;
        }
        if (draining.load())
            return;
        sleeping.store(true, std::memory_order_seq_cst);
        if (tail.load(std::memory_order_seq_cst) == head && !draining.load())
            waitForLines();
        sleeping.store(false);
    }
}

} // namespace QuilmLogging
