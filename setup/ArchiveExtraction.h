#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGui/private/qzipreader_p.h>

#include <optional>

// Unpacks the whole archive into destPath (created when missing). False when the archive
// is missing, its entries cannot be read, an entry would land outside the destination
// (then nothing is written), the destination cannot be created, or an entry cannot be
// written.
bool extractZipToPath(const QString& zipPath, const QString& destPath);

// Deletes a folder tree, also one with read-only folders, which it makes writable. Links
// are removed, never followed, and no file's mode changes, so nothing outside the tree
// is touched.
void forceRemoveDir(const QString& path);

// An entry as the zip reader lists it, with its name as the archive stores it. The
// reader drops leading "." and "/" characters from names, so only the stored name shows
// where the entry points, and the reader finds an entry's data only by its stored name.
struct ArchiveEntry
{
    QString storedName;
    QZipReader::FileInfo info;
    // Where the entry is written, relative to the destination: the stored name without
    // empty and "." parts (empty for the destination itself). Meaningful only for an
    // entry that does not lie outside the destination.
    QString path;
};

// The reader's entries in archive order, each with its stored name. None when the stored
// names cannot be read or do not pair up with the reader's list.
std::optional<QList<ArchiveEntry>> readArchiveEntries(QZipReader& reader);

// Stored names of the entries that would create or change something outside destPath:
// absolute paths, paths with a ".." part (with "/" or "\" between parts), and paths
// through a symbolic link, whether the archive makes that link or it already lies
// under destPath. Links and the paths through them are judged by the entries' paths.
QStringList entriesOutsideDestination(const QList<ArchiveEntry>& entries, const QString& destPath);
