#pragma once

#include <QByteArray>
#include <QString>

// Files that other programs or users may have placed are opened for reading only when
// they are regular files (a link to one included), and without blocking: a named pipe
// or a device at the name could otherwise stop the caller for good.

// A descriptor open for reading on the regular file at path, or -1.
int openRegularFile(const QString& path);

// Whether path names a regular file, judged on an open descriptor.
bool isRegularFile(const QString& path);

// The whole content of the regular file at path when it holds at most maxBytes bytes;
// a null array otherwise.
QByteArray readSmallRegularFile(const QString& path, qint64 maxBytes);
