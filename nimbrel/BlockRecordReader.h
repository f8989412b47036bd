#pragma once

#include "Encryption/AesBlocks_p.h"

#include <QtGlobal>

#include <memory>

class QIODevice;

namespace Nimbrel {

// Reads block records and writes their plaintext, many records per read and
// one write for their plaintext. Whatever the source holds, nothing is read or
// written outside the fixed buffers.
class BlockRecordReader
{
public:
    enum Result {
        RecordsRead,
        HeaderReadFailed,
        HeaderInvalid,
        ContentReadFailed,
        DecodeFailed,
        PadOutOfRange,
        WriteFailed
    };

    static constexpr int headerLength = 6;
    static constexpr int maxCipherLength = 1024;
    static constexpr int recordsPerPass = 256;

    BlockRecordReader();

    // True once the source is read to its end and every byte of it used.
    bool atEnd(QIODevice& source) const;
    // The records that follow, as far as they are whole in what one read
    // brings; a failing record ends the call after the records before it were
    // written.
    Result readRecords(QIODevice& source, QIODevice& dest);
    // The records the last call wrote, also before a failed write, and the
    // ciphertext bytes of each, their headers not counted.
    int recordCount() const { return count; }
    const int* cipherLengths() const { return lengths; }

private:
    Result decodeRecords(bool sourceEnded, bool readFailed);
    void keepWrittenRecords(qint64 written);

    QuilmAes::AesRoundKeys keys;
    // Read but not yet used: input[begin, end).
    std::unique_ptr<unsigned char[]> input;
    qint64 begin = 0;
    qint64 end = 0;
    std::unique_ptr<unsigned char[]> output;
    qint64 outputLength = 0;
    int lengths[recordsPerPass];
    int plainLengths[recordsPerPass];
    int count = 0;
};

} // namespace Nimbrel
