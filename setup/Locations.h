#pragma once

#include <QString>

// Every file and folder Salvix Setup works with, built from a few fixed roots.
// "/Applications" lies under the root prefix of SALVIX_ROOT (see platform/SystemRoot.h);
// the per-user folder follows the home folder.

QString getSystemFolder();
// Creates the per-user folder when it is missing.
QString getAppSupportFolder();
QString getMainFolder();
QString getImageFolder();
QString getMp4SourceFolder();
QString getUpgradeFolder();
QString getMainInfoPList();
QString getMainToolPath();
QString getToUpgradeFilePath();
QString getConfigFilePath();
// "smart.ini": theme, language and the launch source.
QString getSettingsFilePath();
// The launch log: recreated at every start, its first line names the program that was
// started.
QString getLaunchLogPath();
QString getMacInstallAppPath();
QString getMacInstallExePath();
QString getFallbackInstallAppPath();
QString getFallbackInstallExePath();
QString getLauncherAppPath();
QString getLauncherExePath();
