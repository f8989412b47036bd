// Feeds arbitrary bytes to the block-record reader as a whole encrypted file.
#include "BlockRecordReader.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer source(&input);
    source.open(QIODevice::ReadOnly);
    qint64 output = 0;

    Nimbrel::BlockRecordReader reader;
    Nimbrel::RecordPass pass;
    qint64 consumed = 0;
    while (!reader.atEnd(source)) {
        const Nimbrel::BlockRecordReader::Result result = reader.readRecords(source, pass);
        qint64 plain = 0;
        for (int i = 0; i < pass.count; ++i) {
            const int length = pass.consumed[i];
            if (length <= 0 || length > Nimbrel::BlockRecordReader::maxCipherLength || length % 16 != 0)
                std::abort();
            consumed += length;
            plain += pass.outputLengths[i];
        }
        if (plain != pass.length || pass.length > Nimbrel::RecordPass::capacity)
            std::abort();
        output += plain;
        if (result != Nimbrel::BlockRecordReader::RecordsRead)
            break;
    }
    // Plaintext never outgrows the ciphertext it came from.
    if (output > consumed || consumed > static_cast<qint64>(size))
        std::abort();
    return 0;
}
