#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGui/private/qzipreader_p.h>

// Unpacks the whole archive into destPath (created when missing). False when the archive
// is missing, the destination cannot be created, an entry would land outside the
// destination, or the zip reader fails.
bool extractZipToPath(const QString& zipPath, const QString& destPath);

// Deletes a folder tree; when plain deletion fails, makes the files deletable and retries.
void forceRemoveDir(const QString& path);

// Entries that would create or change something outside destPath: absolute paths,
// paths with a ".." part, and paths through a symbolic link, whether the archive makes
// that link or it already lies under destPath.
QStringList entriesOutsideDestination(const QList<QZipReader::FileInfo>& entries, const QString& destPath);
