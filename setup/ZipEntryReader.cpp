#include "ZipEntryReader.h"

#include <QtEndian>

namespace {

constexpr quint32 localHeaderSignature = 0x04034b50;
constexpr int localHeaderSize = 30;
constexpr qsizetype bufferSize = 256 * 1024;

} // namespace

ZipEntryReader::ZipEntryReader(QIODevice& archive, const ZipCentralDirectory& directory)
    : m_archive(archive)
    , m_dataEnd(directory.offset)
    , m_input(bufferSize, Qt::Uninitialized)
    , m_output(bufferSize, Qt::Uninitialized)
{
}

ZipEntryReader::~ZipEntryReader()
{
    if (m_inflating)
        inflateEnd(&m_stream);
}

ZipEntryReader::Result ZipEntryReader::read(const ZipDirectoryEntry& entry, const Sink& sink)
{
    char header[localHeaderSize];
    if (!m_archive.seek(entry.localHeaderOffset) || m_archive.read(header, localHeaderSize) != localHeaderSize
        || qFromLittleEndian<quint32>(header) != localHeaderSignature)
        return Unreadable;
    const qint64 dataStart = qint64(entry.localHeaderOffset) + localHeaderSize + qFromLittleEndian<quint16>(header + 26)
                             + qFromLittleEndian<quint16>(header + 28);
    if (dataStart + entry.compressedSize > m_dataEnd || !m_archive.seek(dataStart))
        return Unreadable;

    quint32 crc = crc32(0, nullptr, 0);
    const Result result = entry.method == 0 ? copyStored(entry, sink, crc) : inflate(entry, sink, crc);
    if (result != Complete)
        return result;
    return crc == entry.crc32 ? Complete : Damaged;
}

ZipEntryReader::Result ZipEntryReader::copyStored(const ZipDirectoryEntry& entry, const Sink& sink, quint32& crc)
{
    qint64 left = entry.size;
    while (left > 0) {
        const qint64 got = m_archive.read(m_input.data(), qMin<qint64>(left, m_input.size()));
        if (got <= 0)
            return Unreadable;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(m_input.constData()), uInt(got));
        if (!sink(m_input.constData(), got))
            return SinkFailed;
        left -= got;
    }
    return Complete;
}

ZipEntryReader::Result ZipEntryReader::inflate(const ZipDirectoryEntry& entry, const Sink& sink, quint32& crc)
{
    if (!m_inflating) {
        if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) // raw deflate, as zip stores it
            return Damaged;
        m_inflating = true;
    } else if (inflateReset(&m_stream) != Z_OK) {
        return Damaged;
    }

    qint64 inputLeft = entry.compressedSize;
    qint64 outputLeft = entry.size;
    m_stream.avail_in = 0;
    for (;;) {
        if (m_stream.avail_in == 0 && inputLeft > 0) {
            const qint64 got = m_archive.read(m_input.data(), qMin<qint64>(inputLeft, m_input.size()));
            if (got <= 0)
                return Unreadable;
            inputLeft -= got;
            m_stream.next_in = reinterpret_cast<Bytef*>(m_input.data());
            m_stream.avail_in = uInt(got);
        }
        // Room for one byte more than declared: a stream that fills it goes on too long.
        const qint64 room = qMin<qint64>(outputLeft + 1, m_output.size());
        m_stream.next_out = reinterpret_cast<Bytef*>(m_output.data());
        m_stream.avail_out = uInt(room);
        const int status = ::inflate(&m_stream, Z_NO_FLUSH);
        const qint64 produced = room - m_stream.avail_out;
        if (produced > outputLeft)
            return Damaged;
        if (produced > 0) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(m_output.constData()), uInt(produced));
            if (!sink(m_output.constData(), produced))
                return SinkFailed;
            outputLeft -= produced;
        }
        if (status == Z_STREAM_END)
            return outputLeft == 0 ? Complete : Damaged;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return Damaged;
        // All input used and nothing more comes: the stream is cut short.
        if (m_stream.avail_in == 0 && inputLeft == 0 && produced == 0)
            return Damaged;
    }
}
