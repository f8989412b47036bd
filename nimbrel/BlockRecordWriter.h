#pragma once

#include "Encryption/Aes.h"

class QIODevice;

namespace Nimbrel {

// Turns the next at most 1024 source bytes into one block record: a six-byte
// header (pad flag, five-digit ciphertext length) and the ciphertext.
class BlockRecordWriter
{
public:
    enum Result { RecordWritten, ReadFailed, EncodeFailed, EncodeOutputMissing, HeaderWriteFailed, CipherWriteFailed };

    static constexpr int maxChunkLength = 1024;

    BlockRecordWriter();

    Result writeRecord(QIODevice& source, QIODevice& dest);
    // Source bytes the last written record holds, pad bytes not counted.
    int chunkLength() const { return lastChunkLength; }

private:
    QuilmAes::Aes aes;
    unsigned char key[16];
    // A full chunk plus room for the pad and the cipher's terminating zero.
    unsigned char buffer[1041];
    int lastChunkLength = 0;
};

}
