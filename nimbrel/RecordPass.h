#pragma once

#include <QtGlobal>

#include <memory>

namespace Nimbrel {

// One pass of a crypt job: the converted records, waiting to be written, and
// what each of them stands for. A job fills one pass while the other is
// written.
struct RecordPass
{
    static constexpr int maxRecords = 512;
    // A record's output is at most a six-byte header and 1024 bytes.
    static constexpr qint64 capacity = qint64(maxRecords) * (6 + 1024);

    RecordPass();

    // Appends a record that took `length` bytes at the end of `bytes` and
    // stands for `sourceBytes` of the source.
    void add(qint64 length, int sourceBytes);
    void clear();

    std::unique_ptr<unsigned char[]> bytes;
    qint64 length = 0;
    int count = 0;
    int outputLengths[maxRecords];
    int consumed[maxRecords];
};

} // namespace Nimbrel
