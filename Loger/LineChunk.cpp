#include "LineChunk.h"

#include <QMutex>

#include <new>

namespace QuilmLogging {

namespace {

// A few hundred typical lines.
constexpr std::size_t chunkCapacity = 64 * 1024;
// What stays allocated after a burst of lines the writer fell behind on.
constexpr int keptSpares = 16;

constexpr std::size_t roundUp(std::size_t bytes)
{
    return (bytes + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
}

constexpr std::size_t headerSize = roundUp(sizeof(LineChunk));

// Taken once per chunk by the thread that needs one and by whoever recycles
// one. Never destroyed, so that threads ending after static destruction
// still find it; its own cache line, as statements read the statics nearby.
struct SpareChunks
{
    QBasicMutex mutex;
    LineChunk* first = nullptr;
    int count = 0;
};

alignas(64) SpareChunks spares;

thread_local bool threadChunkGone = false;

} // namespace

// The chunk a thread allocates from; it lets go of it as the thread ends.
struct ThreadChunk
{
    ~ThreadChunk()
    {
        threadChunkGone = true;
        if (chunk)
            chunk->retire();
    }

    LineChunk* chunk = nullptr;
};

namespace {

thread_local ThreadChunk threadChunk;

} // namespace

LineChunk::LineChunk(std::size_t capacity)
    : capacity(capacity)
{
}

LineChunk* LineChunk::create(std::size_t capacity)
{
    void* memory = ::operator new(headerSize + capacity, std::align_val_t(alignof(LineChunk)));
    return new (memory) LineChunk(capacity);
}

LineChunk* LineChunk::obtain()
{
    {
        QMutexLocker locker(&spares.mutex);
        if (LineChunk* spare = spares.first) {
            spares.first = spare->nextSpare;
            --spares.count;
            return spare;
        }
    }
    return create(chunkCapacity);
}

void LineChunk::destroy()
{
    this->~LineChunk();
    ::operator delete(this, std::align_val_t(alignof(LineChunk)));
}

void LineChunk::recycle()
{
    if (capacity == chunkCapacity) {
        used = 0;
        handedOut = 0;
        QMutexLocker locker(&spares.mutex);
        if (spares.count < keptSpares) {
            nextSpare = spares.first;
            spares.first = this;
            ++spares.count;
            return;
        }
    }
    destroy();
}

void* LineChunk::take(std::size_t bytes)
{
    if (capacity - used < bytes)
        return nullptr;
    void* memory = reinterpret_cast<unsigned char*>(this) + headerSize + used;
    used += bytes;
    ++handedOut;
    return memory;
}

void LineChunk::retire()
{
    // Read before the addition: after it the writer may recycle the chunk. It
    // may also have counted every line down already, and then this recycles it.
    const long lines = handedOut;
    if (outstanding.fetch_add(lines, std::memory_order_acq_rel) + lines == 0)
        recycle();
}

void LineChunk::lineWritten()
{
    if (outstanding.fetch_sub(1, std::memory_order_acq_rel) == 1)
        recycle();
}

void* LineChunk::allocate(std::size_t bytes, LineChunk*& chunk)
{
    bytes = roundUp(bytes);
    if (!threadChunkGone && bytes <= chunkCapacity) {
        ThreadChunk& own = threadChunk;
        if (own.chunk) {
            if (void* memory = own.chunk->take(bytes)) {
                chunk = own.chunk;
                return memory;
            }
            own.chunk->retire();
            // Not left pointing at the retired chunk should the next one fail.
            own.chunk = nullptr;
        }
        own.chunk = obtain();
        chunk = own.chunk;
        return chunk->take(bytes);
    }
    chunk = create(bytes);
    void* memory = chunk->take(bytes);
    chunk->retire();
    return memory;
}

} // namespace QuilmLogging
