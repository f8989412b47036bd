#pragma once

#include <QString>

// Replaces an earlier Salvix Setup at target (an absolute path to a regular file named
// "Salvix Setup" in a "<name>.app/Contents/MacOS" folder, neither the installed Salvix
// nor source) by a copy of source, written beside it and renamed into place, keeping
// "<source>_bak" as a backup until then. Any other target is left alone with a warning.
// Neither string is changed.
void copyToUpgradeFileToPatchTool(QString& target, QString& source);
