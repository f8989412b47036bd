#include "LogWriterThread.h"

#include <algorithm>

namespace QuilmLogging {

namespace {

// Some hundreds of typical lines per block; a burst of lines grows the queue
// by blocks, and a few written blocks are kept for the next ones.
constexpr qsizetype blockCharacters = 64 * 1024;
constexpr std::size_t blockLines = 1024;
constexpr std::size_t spareBlocks = 4;

} // namespace

struct LogWriterThread::LineBlock
{
    struct Line
    {
        qsizetype offset;
        qsizetype length;
        Level level;
    };

    explicit LineBlock(qsizetype characters)
        : characters(characters)
    {
        text.resize(static_cast<std::size_t>(characters));
        text.clear();
        lines.resize(blockLines);
        lines.clear();
    }

    bool fits(qsizetype length) const
    {
        return static_cast<qsizetype>(text.size()) + length <= characters && lines.size() < blockLines;
    }

    void append(QStringView prefix, QStringView message, Level level)
    {
        lines.push_back({static_cast<qsizetype>(text.size()), prefix.size() + message.size(), level});
        text.insert(text.end(), prefix.utf16(), prefix.utf16() + prefix.size());
        text.insert(text.end(), message.utf16(), message.utf16() + message.size());
    }

    const qsizetype characters;
    std::vector<char16_t> text;
    std::vector<Line> lines;
};

LogWriterThread::LogWriterThread(Logger& logger)
    : logger(logger)
{
    setObjectName(QStringLiteral("QuilmLog writer"));
}

LogWriterThread::~LogWriterThread()
{
    drain();
}

void LogWriterThread::enqueue(QStringView prefix, QStringView message, Level level)
{
    const qsizetype length = prefix.size() + message.size();
    QMutexLocker locker(&mutex);
    while (!current || !current->fits(length)) {
        if (current)
            filled.push_back(std::move(current));
        if (!spare.empty() && length <= blockCharacters) {
            current = std::move(spare.back());
            spare.pop_back();
            break;
        }
        // Fresh memory is touched outside the lock: a page fault while
        // holding it would stall every thread that logs.
        locker.unlock();
        BlockPtr block = std::make_unique<LineBlock>(std::max(length, blockCharacters));
        locker.relock();
        if (current)
            spare.push_back(std::move(block));
        else
            current = std::move(block);
    }
    current->append(prefix, message, level);

    if (!started) {
        started = true;
        start();
    } else if (sleeping) {
        sleeping = false;
        lineQueued.wakeOne();
    }
}

void LogWriterThread::drain()
{
    {
        QMutexLocker locker(&mutex);
        draining = true;
        lineQueued.wakeOne();
    }
    wait();
}

void LogWriterThread::run()
{
    std::vector<BlockPtr> batch;
    std::vector<BlockPtr> taken;
    // One string for every line: a destination that keeps no copy of it
    // costs no allocation.
    QString line;
    for (;;) {
        {
            QMutexLocker locker(&mutex);
            for (BlockPtr& block : batch) {
                if (block->characters == blockCharacters && spare.size() < spareBlocks) {
                    block->text.clear();
                    block->lines.clear();
                    spare.push_back(std::move(block));
                }
            }
            while (filled.empty() && !current && !draining) {
                sleeping = true;
                lineQueued.wait(&mutex);
                sleeping = false;
            }
            taken.swap(filled);
            if (current)
                taken.push_back(std::move(current));
        }
        // The blocks not kept are freed outside the lock.
        batch.clear();
        if (taken.empty())
            return;
        batch.swap(taken);

        for (const BlockPtr& block : batch) {
            for (const LineBlock::Line& entry : block->lines) {
                line.setUnicode(reinterpret_cast<const QChar*>(block->text.data() + entry.offset), entry.length);
                logger.write(line, entry.level);
            }
        }
    }
}

} // namespace QuilmLogging
