#pragma once

#include <QIODevice>
#include <QStringList>

#include <optional>

// Names of a zip archive's entries exactly as its central directory stores them, in
// archive order (the zip reader rewrites them before anyone sees them). None when the
// directory cannot be read.
std::optional<QStringList> storedZipEntryNames(QIODevice& archive);
