#include "BlockRecordReader.h"

#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QIODevice>

#include <cstring>

namespace Nimbrel {

namespace {

constexpr qint64 inputCapacity =
    qint64(BlockRecordReader::recordsPerPass) * (BlockRecordReader::headerLength + BlockRecordReader::maxCipherLength);

// The header's length: the digits after the flag, up to the first other byte
// (the flag itself counts as a leading "0").
int headerValue(const unsigned char* header, int headerBytes)
{
    int value = 0;
    for (int i = 1; i < headerBytes && header[i] >= '0' && header[i] <= '9'; ++i)
        value = 10 * value + (header[i] - '0');
    return value;
}

} // namespace

BlockRecordReader::BlockRecordReader()
    : keys(QuilmAes::standardRoundKeys(NIMBREL_CONFIG_KEY))
    , input(new unsigned char[inputCapacity])
{
}

bool BlockRecordReader::atEnd(QIODevice& source) const
{
    return begin == end && source.atEnd();
}

BlockRecordReader::Result BlockRecordReader::readRecords(QIODevice& source, RecordPass& pass)
{
    // A record the last read cut short moves to the front and is completed.
    std::memmove(input.get(), input.get() + begin, static_cast<size_t>(end - begin));
    end -= begin;
    begin = 0;
    const qint64 got = source.read(reinterpret_cast<char*>(input.get() + end), inputCapacity - end);
    if (got > 0)
        end += got;
    const bool readFailed = got < 0;
    return decodeRecords(!readFailed && source.atEnd(), readFailed, pass);
}

// A record needs all its bytes in the buffer, unless the source has ended:
// then a cut header or ciphertext is used as far as it goes.
BlockRecordReader::Result BlockRecordReader::decodeRecords(bool sourceEnded, bool readFailed, RecordPass& pass)
{
    pass.clear();
    if (readFailed && begin == end)
        return HeaderReadFailed;

    while (pass.count < recordsPerPass && begin < end) {
        const qint64 available = end - begin;
        if (available < headerLength && !sourceEnded)
            return readFailed ? HeaderReadFailed : RecordsRead;
        const unsigned char* header = input.get() + begin;
        const int headerBytes = static_cast<int>(qMin<qint64>(headerLength, available));
        const bool padded = header[0] == '1';
        const int length = headerValue(header, headerBytes);
        if (length <= 0 || length > maxCipherLength)
            return HeaderInvalid;

        if (available - headerBytes < length && !sourceEnded)
            return readFailed ? ContentReadFailed : RecordsRead;
        const int c = static_cast<int>(qMin<qint64>(length, available - headerBytes));
        if (c <= 0)
            return ContentReadFailed;
        if (c % 16 != 0)
            return DecodeFailed;

        unsigned char* plain = pass.bytes.get() + pass.length;
        QuilmAes::decodeBlocks(keys, QuilmAes::reverse_sbox, header + headerBytes, plain, static_cast<size_t>(c));
        const int pad = padded ? static_cast<signed char>(plain[c - 1]) : 0;
        if (pad < 0 || pad > c)
            return PadOutOfRange;

        begin += headerBytes + c;
        pass.add(c - pad, c);
    }
    return RecordsRead;
}

} // namespace Nimbrel
