#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>

// One entry of a zip archive as its central directory describes it.
struct ZipDirectoryEntry
{
    QByteArray name; // as stored, never decoded or rewritten
    bool utf8Name = false;
    quint16 method = 0; // 0 stored, 8 deflated
    quint32 crc32 = 0;
    quint32 compressedSize = 0;
    quint32 size = 0;
    quint32 localHeaderOffset = 0;
    // The Unix file type and mode, when the archive was made on a Unix system; else 0.
    quint32 unixMode = 0;

    bool isDir() const;
    bool isSymLink() const;
    bool isFile() const { return !isDir() && !isSymLink(); }
    // The access bits to give what the entry makes (no set-id or sticky bits).
    quint32 permissions() const;
    // The name for log lines.
    QString displayName() const;
};

struct ZipCentralDirectory
{
    enum Status {
        Read,
        // No end record closes the file: it is no zip archive at all.
        NotAnArchive,
        // An end record is there, but the directory it points at cannot be read, or
        // describes entries this reader does not unpack (encrypted, spanned, zip64,
        // other methods).
        Unreadable,
    };

    Status status = NotAnArchive;
    QList<ZipDirectoryEntry> entries; // in archive order
    qint64 offset = 0; // where the directory begins: every entry's data lies before it

    static ZipCentralDirectory read(QIODevice& archive);
};
