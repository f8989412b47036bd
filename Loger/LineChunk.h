#pragma once

#include <atomic>
#include <cstddef>

namespace QuilmLogging {

// Memory for queued lines, handed out by one thread from a chunk of its own,
// so that a line costs neither an allocation nor a free on the writer thread.
// A chunk is done with when its thread has moved on to another chunk and the
// writer has written every line in it, whichever comes last; then it waits
// among a few spare chunks for the next thread that needs one, because fresh
// memory costs a page fault for each of its pages.
class LineChunk
{
public:
    // `bytes` from this thread's chunk, or from a chunk of its own (a line
    // longer than a chunk, or one logged while the thread is ending). The
    // writer passes the chunk to lineWritten() once the line is written.
    static void* allocate(std::size_t bytes, LineChunk*& chunk);

    // Writer thread.
    void lineWritten();

private:
    friend struct ThreadChunk;

    explicit LineChunk(std::size_t capacity);
    static LineChunk* create(std::size_t capacity);
    // A spare chunk, else a new one.
    static LineChunk* obtain();
    void destroy();
    // Every line is written and the thread has let go: kept as a spare while
    // there are few, else freed.
    void recycle();
    void* take(std::size_t bytes);
    // The thread hands the chunk over: from now on its last line recycles it.
    void retire();

    // The owning thread's side: how much is handed out, and to how many lines.
    const std::size_t capacity;
    std::size_t used = 0;
    long handedOut = 0;
    // The next spare chunk while this one is a spare.
    LineChunk* nextSpare = nullptr;
    // The writer's side, apart so that the two do not share a cache line:
    // lines written, counted down; once the owner retired the chunk it adds
    // handedOut, and whoever brings the count to zero recycles the chunk.
    alignas(64) std::atomic<long> outstanding{0};
};

} // namespace QuilmLogging
