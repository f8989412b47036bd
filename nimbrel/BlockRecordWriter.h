#pragma once

#include "Encryption/AesBlocks_p.h"
#include "RecordPass.h"

#include <QtGlobal>

#include <memory>

class QIODevice;

namespace Nimbrel {

// Turns the source into block records, each a six-byte header (pad flag,
// five-digit ciphertext length) and the ciphertext of at most 1024 source
// bytes. Reads many records' worth at once.
class BlockRecordWriter
{
public:
    static constexpr int maxChunkLength = 1024;
    static constexpr int headerLength = 6;
    static constexpr int recordsPerPass = RecordPass::maxRecords;

    BlockRecordWriter();

    // The records of the source's next bytes, into `pass`; false when the
    // read fails.
    bool encodeRecords(QIODevice& source, RecordPass& pass);

private:
    QuilmAes::AesRoundKeys keys;
    // The source bytes, with room for the pad of the last record.
    std::unique_ptr<unsigned char[]> plain;
};

} // namespace Nimbrel
