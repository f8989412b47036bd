#include "BlockRecordWriter.h"

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QIODevice>

#include <cstring>

namespace Nimbrel {

namespace {

// "1" or "0" for the pad flag, then the length as five digits.
void writeHeader(unsigned char* header, bool padded, int cipherLength)
{
    header[0] = padded ? '1' : '0';
    for (int i = BlockRecordWriter::headerLength - 1; i > 0; --i, cipherLength /= 10)
        header[i] = static_cast<unsigned char>('0' + cipherLength % 10);
}

} // namespace

BlockRecordWriter::BlockRecordWriter()
    : keys(QuilmAes::standardRoundKeys(NIMBREL_CONFIG_KEY))
    , plain(new unsigned char[recordsPerPass * maxChunkLength + 16])
{
}

bool BlockRecordWriter::encodeRecords(QIODevice& source, RecordPass& pass)
{
    pass.clear();
    const qint64 n = source.read(reinterpret_cast<char*>(plain.get()), recordsPerPass * maxChunkLength);
    if (n <= 0)
        return false;

    for (qint64 offset = 0; offset < n; offset += maxChunkLength) {
        const int length = static_cast<int>(qMin<qint64>(maxChunkLength, n - offset));
        // Pads to the block size with bytes of the pad count; a full block needs none.
        const int pad = length % 16 != 0 ? 16 - length % 16 : 0;
        std::memset(plain.get() + offset + length, pad, static_cast<size_t>(pad));
        const int cipherLength = length + pad;
        unsigned char* out = pass.bytes.get() + pass.length;
        writeHeader(out, pad > 0, cipherLength);
        QuilmAes::encodeBlocks(keys, QuilmAes::sbox, plain.get() + offset, out + headerLength,
                               static_cast<size_t>(cipherLength));
        pass.add(headerLength + cipherLength, length);
    }
    return true;
}

} // namespace Nimbrel
