#pragma once

#include "UniqueFd.h"
#include "ZipArchive.h"

#include <QList>
#include <QString>
#include <QStringList>

// Unpacks the whole archive into destPath (created when missing) and checks every entry's
// size and CRC-32. True only when all of it was unpacked and verified. False when the
// archive is missing or no zip archive; when it is refused (entries that cannot be read,
// entries or links that lead outside the destination, more data than the destination
// has room for: then nothing is written); when the destination cannot be created or is
// a link; or when an entry cannot be written or fails its checks: then what this call
// wrote is removed again.
bool extractZipToPath(const QString& zipPath, const QString& destPath);

// Deletes a folder tree of any depth, also one with read-only folders, which it makes
// writable. Links are removed, never followed, and no file's mode changes, so nothing
// outside the tree is touched, whatever is swapped while it runs.
void forceRemoveDir(const QString& path);

// Names (as the archive stores them) of the entries that would create or change
// something outside the folder open at destination (-1 when it does not exist yet):
// absolute names, names with a ".." part (with "/" or "\" between parts), and paths
// through a symbolic link, whether the archive makes that link (in any letter case) or
// it already lies in the destination. Link targets are judged apart.
QStringList entriesOutsideDestination(const QList<ArchiveEntry>& entries, int destination);

// Opens a destination folder; the last part of its path must not be a link.
UniqueFd openDestination(const QString& path);

// Bytes free for the folder at path, or for its nearest existing parent.
qint64 freeSpaceFor(const QString& path);
