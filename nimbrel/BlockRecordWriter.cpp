#include "BlockRecordWriter.h"

#include "ConfigFileParser.h"

#include <QIODevice>
#include <QString>

#include <algorithm>
#include <cstring>

namespace Nimbrel {

BlockRecordWriter::BlockRecordWriter()
{
    std::copy(std::begin(NIMBREL_CONFIG_KEY), std::end(NIMBREL_CONFIG_KEY), key);
    std::memset(buffer, 0, sizeof buffer);
}

BlockRecordWriter::Result BlockRecordWriter::writeRecord(QIODevice& source, QIODevice& dest)
{
    std::memset(buffer, 0, sizeof buffer);
    const int n = static_cast<int>(source.read(reinterpret_cast<char*>(buffer), maxChunkLength));
    if (n <= 0)
        return ReadFailed;
    // Pads to the block size with bytes of the pad count; a full block needs none.
    const int pad = n % 16 != 0 ? 16 - n % 16 : 0;
    std::memset(buffer + n, pad, static_cast<size_t>(pad));
    const int cipherLength = n + pad;

    if (aes.AesEncode(buffer, cipherLength, key, NIMBREL_CONFIG_KEY_LENGTH) != 0)
        return EncodeFailed;
    if (!aes.encodeOutput)
        return EncodeOutputMissing;

    const QString header = QString("%1%2").arg(QChar(pad > 0 ? '1' : '0')).arg(cipherLength, 5, 10, QChar('0'));
    const std::string headerBytes = header.toStdString();
    if (dest.write(headerBytes.data(), header.size()) != header.size())
        return HeaderWriteFailed;
    if (static_cast<int>(dest.write(reinterpret_cast<const char*>(aes.encodeOutput.get()), cipherLength))
        != cipherLength)
        return CipherWriteFailed;
    lastChunkLength = n;
    return RecordWritten;
}

}
