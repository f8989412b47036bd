#include "BlockRecordReader.h"

#include "ConfigFileParser.h"

#include <QIODevice>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Nimbrel {

BlockRecordReader::BlockRecordReader()
{
    std::copy(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY), key);
    std::memset(header, 0, sizeof header);
    std::memset(buffer, 0, sizeof buffer);
}

BlockRecordReader::Result BlockRecordReader::readRecord(QIODevice& source, QIODevice& dest)
{
    std::memset(header, 0, sizeof header);
    std::memset(buffer, 0, sizeof buffer);
    // A cut file may leave fewer than six header bytes; they are read as they are.
    if (static_cast<int>(source.read(header, headerLength)) <= 0)
        return HeaderReadFailed;

    const bool padded = header[0] == '1';
    header[0] = '0';
    const int length = std::atoi(header);
    if (length <= 0 || length > maxCipherLength)
        return HeaderInvalid;

    const int c = static_cast<int>(source.read(reinterpret_cast<char*>(buffer), length));
    if (c <= 0)
        return ContentReadFailed;
    // Also refuses a count that is not a whole number of blocks.
    if (aes.AesDecode(buffer, c, key, NIMBREL_CONFIG_KEY_LENGTH) != 0)
        return DecodeFailed;
    if (!aes.decodeOutput)
        return DecodeOutputMissing;

    const int pad = padded ? static_cast<signed char>(aes.decodeOutput[c - 1]) : 0;
    if (pad < 0 || pad > c)
        return PadOutOfRange;
    if (dest.write(reinterpret_cast<const char*>(aes.decodeOutput.get()), c - pad) != c - pad)
        return WriteFailed;
    lastCipherLength = c;
    return RecordRead;
}

}
