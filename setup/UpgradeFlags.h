#pragma once

#include <QFileInfo>
#include <QString>

// Start-up's test of a downloaded upgrade archive and its decision on the upgrade flags
// of gConfig (possible_patch_tool_to_upgrade, force_upgrade_tool, is_upgrade_tool,
// to_upgrade_reminder), which must all be false on entry.
// toUpgradePath: the archive path in native separators, trimmed; a rejected archive is
// deleted and toUpgradePath emptied. fileInfo1: the running executable. mainToolPath:
// the installed Salvix's executable. Returns isToUpgradeTool, which start-up logs later.
bool decideUpgradeFlags(QString& toUpgradePath, const QFileInfo& fileInfo1, const QString& mainToolPath, int argc,
                        char** argv);
