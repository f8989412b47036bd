#include "BlockRecordWriter.h"

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QIODevice>

#include <cstring>

namespace Nimbrel {

namespace {

constexpr int maxRecordLength = BlockRecordWriter::headerLength + BlockRecordWriter::maxChunkLength;

int recordLength(int chunkLength)
{
    return BlockRecordWriter::headerLength + (chunkLength + 15) / 16 * 16;
}

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
    , records(new unsigned char[recordsPerPass * maxRecordLength])
{
}

BlockRecordWriter::Result BlockRecordWriter::writeRecords(QIODevice& source, QIODevice& dest)
{
    count = 0;
    const qint64 n = source.read(reinterpret_cast<char*>(plain.get()), recordsPerPass * maxChunkLength);
    if (n <= 0)
        return ReadFailed;

    unsigned char* out = records.get();
    for (qint64 offset = 0; offset < n; offset += maxChunkLength) {
        const int length = static_cast<int>(qMin<qint64>(maxChunkLength, n - offset));
        // Pads to the block size with bytes of the pad count; a full block needs none.
        const int pad = length % 16 != 0 ? 16 - length % 16 : 0;
        std::memset(plain.get() + offset + length, pad, static_cast<size_t>(pad));
        const int cipherLength = length + pad;
        writeHeader(out, pad > 0, cipherLength);
        QuilmAes::encodeBlocks(keys, QuilmAes::sbox, plain.get() + offset, out + headerLength,
                               static_cast<size_t>(cipherLength));
        out += headerLength + cipherLength;
        lengths[count++] = length;
    }

    const qint64 size = out - records.get();
    const qint64 written = dest.write(reinterpret_cast<const char*>(records.get()), size);
    return written == size ? RecordsWritten : writeFailure(qMax<qint64>(written, 0));
}

// Keeps the records that lie wholly in the written bytes.
BlockRecordWriter::Result BlockRecordWriter::writeFailure(qint64 written)
{
    qint64 recordStart = 0;
    int whole = 0;
    while (recordStart + recordLength(lengths[whole]) <= written)
        recordStart += recordLength(lengths[whole++]);
    count = whole;
    return written - recordStart < headerLength ? HeaderWriteFailed : WriteFailed;
}

} // namespace Nimbrel
