#pragma once

#include "Encryption/AesBlocks_p.h"
#include "RecordPass.h"

#include <QtGlobal>

#include <memory>

class QIODevice;

namespace Nimbrel {

// Reads block records and turns them into their plaintext, many records per
// read. Whatever the source holds, nothing is read or written outside the
// fixed buffers.
class BlockRecordReader
{
public:
    enum Result {
        RecordsRead,
        HeaderReadFailed,
        HeaderInvalid,
        ContentReadFailed,
        DecodeFailed,
        PadOutOfRange
    };

    static constexpr int headerLength = 6;
    static constexpr int maxCipherLength = 1024;
    static constexpr int recordsPerPass = RecordPass::maxRecords;

    BlockRecordReader();

    // True once the source is read to its end and every byte of it used.
    bool atEnd(QIODevice& source) const;
    // The plaintext of the records that follow, as far as they are whole in
    // what one read brings, into `pass`, each standing for its ciphertext
    // bytes (its header not counted). A failing record ends the pass after
    // the records before it.
    Result readRecords(QIODevice& source, RecordPass& pass);

private:
    Result decodeRecords(bool sourceEnded, bool readFailed, RecordPass& pass);

    QuilmAes::AesRoundKeys keys;
    // Read but not yet used: input[begin, end).
    std::unique_ptr<unsigned char[]> input;
    qint64 begin = 0;
    qint64 end = 0;
};

} // namespace Nimbrel
