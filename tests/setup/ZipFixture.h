#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>

// Hand-made archives, written byte by byte (stored, no compression) rather than through
// a zip writer, so that every name lands in the archive exactly as given: fixtures can
// hold names that no well-behaved archiver would write.
struct ZipEntry
{
    enum Kind { Dir, File, Executable, Link };
    Kind kind;
    QString name;
    QByteArray data; // file content, or link target
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

} // namespace ZipBytes

inline QByteArray zipBytes(const QList<ZipEntry>& entries)
{
    using namespace ZipBytes;
    const quint16 versionNeeded = 20;
    const quint16 madeByUnix = (3 << 8) | 20;
    QByteArray local;
    QByteArray directory;
    for (const ZipEntry& entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return (c & 0x80) == 0; });
        const quint16 flags = ascii ? 0 : 0x0800; // names in UTF-8
        const quint32 crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.constData()), entry.data.size());
        const quint32 size = entry.data.size();
        const quint32 offset = local.size();

        append32(local, 0x04034b50);
        append16(local, versionNeeded);
        append16(local, flags);
        append16(local, 0); // stored
        append16(local, 0); // time
        append16(local, 0x21); // date: 1980-01-01
        append32(local, crc);
        append32(local, size);
        append32(local, size);
        append16(local, name.size());
        append16(local, 0); // extra field
        local.append(name);
        local.append(entry.data);

        append32(directory, 0x02014b50);
        append16(directory, madeByUnix);
        append16(directory, versionNeeded);
        append16(directory, flags);
        append16(directory, 0);
        append16(directory, 0);
        append16(directory, 0x21);
        append32(directory, crc);
        append32(directory, size);
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
