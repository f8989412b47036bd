#pragma once

#include "ZipCentralDirectory.h"

#include <QByteArray>
#include <QIODevice>

#include <functional>

#include <zlib.h>

// Streams the data of an archive's entries through two fixed buffers, never beyond the
// size the directory declares, and checks each entry's size and CRC-32 against it.
class ZipEntryReader
{
public:
    enum Result {
        Complete,
        // The entry's local header or data do not lie where the directory says.
        Unreadable,
        // The data do not inflate, end early, go on past the declared size, or their
        // CRC-32 differs from the directory's.
        Damaged,
        // The sink refused the data.
        SinkFailed,
    };
    // Receives the data in pieces, in order; false stops the reading.
    using Sink = std::function<bool(const char* data, qsizetype size)>;

    ZipEntryReader(QIODevice& archive, const ZipCentralDirectory& directory);
    ~ZipEntryReader();

    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;

    Result read(const ZipDirectoryEntry& entry, const Sink& sink);

private:
    Result copyStored(const ZipDirectoryEntry& entry, const Sink& sink, quint32& crc);
    Result inflate(const ZipDirectoryEntry& entry, const Sink& sink, quint32& crc);

    QIODevice& m_archive;
    const qint64 m_dataEnd;
    QByteArray m_input;
    QByteArray m_output;
    z_stream m_stream{};
    bool m_inflating = false;
};
