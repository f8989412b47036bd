#pragma once

#include "UniqueFd.h"
#include "ZipArchive.h"

#include <QByteArrayList>
#include <QList>

// Puts an archive's entries into an open destination folder. Every place is reached from
// the destination's descriptor, one name at a time and never through a link; every file
// and link is created afresh (what stood at its name goes first, then it is created
// exclusively), so nothing already there is written through.
class ArchiveWriter
{
public:
    enum Result {
        Written,
        // Written, but its mode could not be set.
        WrittenWithoutMode,
        // The place cannot be made; errno tells why.
        NotCreated,
        // The entry's data failed their checks; nothing of it stays.
        Damaged,
    };

    explicit ArchiveWriter(int destination)
        : m_destination(destination)
    {
    }

    // A folder entry; with parents false, only when its parent exists.
    bool makeFolder(const QByteArrayList& parts, bool parents);
    Result writeFile(ZipArchive& archive, const ArchiveEntry& entry, bool parents);
    bool makeLink(const QByteArrayList& parts, const QByteArray& target);
    bool setFolderMode(const QByteArrayList& parts, quint32 mode);
    // Removes every file, link and folder this writer created.
    void removeWritten();

private:
    // The folder that holds the last of parts, opened from the destination.
    UniqueFd openParent(const QByteArrayList& parts, bool create);

    const int m_destination;
    QList<QByteArrayList> m_files;
    QList<QByteArrayList> m_folders;
};
