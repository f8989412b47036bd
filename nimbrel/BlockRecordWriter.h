#pragma once

#include "Encryption/AesBlocks_p.h"

#include <QtGlobal>

#include <memory>

class QIODevice;

namespace Nimbrel {

// Turns the source into block records, each a six-byte header (pad flag,
// five-digit ciphertext length) and the ciphertext of at most 1024 source
// bytes. Reads many records' worth at once and writes their records with one
// write.
class BlockRecordWriter
{
public:
    // A failed write stops in a record's header or in its ciphertext.
    enum Result { RecordsWritten, ReadFailed, HeaderWriteFailed, WriteFailed };

    static constexpr int maxChunkLength = 1024;
    static constexpr int headerLength = 6;
    static constexpr int recordsPerPass = 256;

    BlockRecordWriter();

    Result writeRecords(QIODevice& source, QIODevice& dest);
    // The records the last call wrote, also before a failed write, and the
    // source bytes of each, pad bytes not counted.
    int recordCount() const { return count; }
    const int* chunkLengths() const { return lengths; }

private:
    Result writeFailure(qint64 written);

    QuilmAes::AesRoundKeys keys;
    // The source bytes, with room for the pad of the last record.
    std::unique_ptr<unsigned char[]> plain;
    std::unique_ptr<unsigned char[]> records;
    int lengths[recordsPerPass];
    int count = 0;
};

} // namespace Nimbrel
