#pragma once

#include "Encryption/Aes.h"

class QIODevice;

namespace Nimbrel {

// Reads one block record and writes its plaintext. Whatever the source holds,
// nothing is read or written outside the fixed buffers.
class BlockRecordReader
{
public:
    enum Result {
        RecordRead,
        HeaderReadFailed,
        HeaderInvalid,
        ContentReadFailed,
        DecodeFailed,
        DecodeOutputMissing,
        PadOutOfRange,
        WriteFailed
    };

    static constexpr int headerLength = 6;
    static constexpr int maxCipherLength = 1024;

    BlockRecordReader();

    Result readRecord(QIODevice& source, QIODevice& dest);
    // Ciphertext bytes of the last record read, its header not counted.
    int cipherLength() const { return lastCipherLength; }

private:
    QuilmAes::Aes aes;
    unsigned char key[16];
    char header[headerLength + 1];
    unsigned char buffer[1041];
    int lastCipherLength = 0;
};

}
