#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <optional>

// Hand-made archives, written byte by byte rather than through a zip writer, so that
// every name lands in the archive exactly as given and every declared value can lie:
// fixtures can hold what no well-behaved archiver would write.
struct ZipEntry
{
    enum Kind { Dir, File, Executable, Link };
    ZipEntry(Kind kind, const QString& name, const QByteArray& data)
        : kind(kind)
        , name(name)
        , data(data)
    {
    }

    Kind kind;
    QString name;
    QByteArray data; // file content, or link target
    bool deflated = false; // raw deflate (method 8), else stored
    std::optional<QByteArray> rawName; // the name's bytes, not flagged as UTF-8
    std::optional<QByteArray> payload; // the bytes stored for the data, as they are
    std::optional<quint32> crc; // declared CRC-32, else the data's
    std::optional<quint32> size; // declared size, else the data's
};

namespace ZipBytes {

inline void append16(QByteArray& out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

inline void append32(QByteArray& out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

// Unix file type and mode, as kept in the upper half of the external attributes.
inline quint32 unixMode(ZipEntry::Kind kind)
{
    switch (kind) {
    case ZipEntry::Dir: return 040755;
    case ZipEntry::Link: return 0120777;
    case ZipEntry::Executable: return 0100755;
    case ZipEntry::File: break;
    }
    return 0100644;
}

// The data as raw deflate, as a zip archive stores it.
inline QByteArray deflateRaw(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace ZipBytes

inline QByteArray zipBytes(const QList<ZipEntry>& entries)
{
    using namespace ZipBytes;
    const quint16 versionNeeded = 20;
    const quint16 madeByUnix = (3 << 8) | 20;
    QByteArray local;
    QByteArray directory;
    for (const ZipEntry& entry : entries) {
        const QByteArray name = entry.rawName.value_or(entry.name.toUtf8());
        const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return (c & 0x80) == 0; });
        const quint16 flags = ascii || entry.rawName ? 0 : 0x0800; // names in UTF-8
        const quint32 crc = entry.crc.value_or(
            crc32(0, reinterpret_cast<const Bytef*>(entry.data.constData()), uInt(entry.data.size())));
        const quint32 size = entry.size.value_or(entry.data.size());
        const QByteArray payload = entry.payload.value_or(entry.deflated ? deflateRaw(entry.data) : entry.data);
        const quint32 compressedSize = payload.size();
        const quint16 method = entry.deflated ? 8 : 0;
        const quint32 offset = local.size();

        append32(local, 0x04034b50);
        append16(local, versionNeeded);
        append16(local, flags);
        append16(local, method);
        append16(local, 0); // time
        append16(local, 0x21); // date: 1980-01-01
        append32(local, crc);
        append32(local, compressedSize);
        append32(local, size);
        append16(local, name.size());
        append16(local, 0); // extra field
        local.append(name);
        local.append(payload);

        append32(directory, 0x02014b50);
        append16(directory, madeByUnix);
        append16(directory, versionNeeded);
        append16(directory, flags);
        append16(directory, method);
        append16(directory, 0);
        append16(directory, 0x21);
        append32(directory, crc);
        append32(directory, compressedSize);
        append32(directory, size);
        append16(directory, name.size());
        append16(directory, 0); // extra field
        append16(directory, 0); // comment
        append16(directory, 0); // disk
        append16(directory, 0); // internal attributes
        append32(directory, unixMode(entry.kind) << 16);
        append32(directory, offset);
        directory.append(name);
    }

    QByteArray archive = local + directory;
    append32(archive, 0x06054b50);
    append16(archive, 0); // this disk
    append16(archive, 0); // disk of the directory
    append16(archive, entries.size());
    append16(archive, entries.size());
    append32(archive, directory.size());
    append32(archive, local.size());
    append16(archive, 0); // comment
    return archive;
}

inline bool writeZip(const QString& path, const QList<ZipEntry>& entries)
{
    QFile file(path);
    const QByteArray archive = zipBytes(entries);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(archive) == archive.size();
}
