#pragma once

#include "ZipCentralDirectory.h"
#include "ZipEntryReader.h"

#include <QByteArrayList>
#include <QFile>
#include <QList>
#include <QString>

#include <memory>

// An entry of an archive with the place it takes, relative to where it is unpacked.
struct ArchiveEntry
{
    ZipDirectoryEntry stored;
    // The stored name split at "/", without empty and "." parts; empty for the folder the
    // archive is unpacked into.
    QByteArrayList parts;

    QByteArray path() const { return parts.join('/'); }
};

// A zip archive opened for reading: its directory and, on demand, each entry's data.
// Only a regular file is opened, without blocking, so a named pipe or a device fails at
// once; a Qt resource path (":/...") is read from the resources.
class ZipArchive
{
public:
    enum Status {
        Opened,
        Missing,
        NotRegularFile,
        NotAnArchive,
        // An archive whose directory or entry names cannot be read.
        Unreadable,
    };

    explicit ZipArchive(const QString& path);
    ~ZipArchive();

    Status status() const { return m_status; }
    const QList<ArchiveEntry>& entries() const { return m_entries; }
    // Streams one entry's data, checked against the directory.
    ZipEntryReader::Result read(const ArchiveEntry& entry, const ZipEntryReader::Sink& sink);

private:
    Status open(const QString& path);

    Status m_status;
    QFile m_file;
    ZipCentralDirectory m_directory;
    QList<ArchiveEntry> m_entries;
    std::unique_ptr<ZipEntryReader> m_reader;
};
