#pragma once

#include <QString>

// Replaces the file at target by a copy of source, keeping "<source>_bak" as a
// backup until the copy has succeeded. Neither string is changed.
void copyToUpgradeFileToPatchTool(QString& target, QString& source);
