#include "StatementStream.h"

namespace QuilmLogging {

namespace {

constexpr qsizetype reservedMessage = 256;
// A thread that once logged a huge message does not keep its memory.
constexpr qsizetype keptMessage = 16 * 1024;

// Set when the thread's pair is destroyed at the thread's end, so that a
// statement in a later destructor of that thread makes its own stream.
thread_local bool threadStreamGone = false;
thread_local StatementStream threadStream;

} // namespace

StatementStream::StatementStream()
    : debug(&text)
{
    text.reserve(reservedMessage);
    lineStart.reserve(32);
}

StatementStream::~StatementStream()
{
    threadStreamGone = true;
}

StatementStream* StatementStream::claim()
{
    if (threadStreamGone)
        return nullptr;
    StatementStream& own = threadStream;
    if (own.claimed)
        return nullptr;
    own.claimed = true;
    return &own;
}

QDebug StatementStream::stream()
{
    debug.resetFormat();
    return debug;
}

void StatementStream::release()
{
    if (text.capacity() > keptMessage) {
        text = QString();
        text.reserve(reservedMessage);
    } else {
        text.truncate(0);
    }
    lineStart.truncate(0);
    claimed = false;
}

} // namespace QuilmLogging
