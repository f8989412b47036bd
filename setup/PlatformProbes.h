#pragma once

#include <QString>

// A running process has this executable path; both are compared with every link along
// them resolved, then byte for byte.
bool checkQuilmTolvaneRunning(QString executablePath);
// At least two running processes have this executable path, compared as above.
bool checkQuilmTolvaneRepeatRunning(QString executablePath);

// The SHA-1 check file of an archive: the path up to its last "." followed by ".dat".
QString checkFilePathFor(const QString& archivePath);
// The archive's SHA-1 ("shasum") equals the digest in its ".dat" check file.
bool checkFileSHASumLegacy(const QString& archivePath);

// The path recorded by "[main] run from path:" in the first line of the launch log.
QString getLaunchToolPath();

// Brings every process whose name contains processName to the front; windowClass is unused.
bool activateWindowToFront(const QString& processName, const QString& windowClass);

// Whether the 4K layout is to be used, for the main display.
bool Check4KResolutionScreen();
// The same rule for given display numbers; logs the screen line.
bool Check4KResolutionScreen(size_t pixelsWide, size_t pixelsHigh, double widthMm, double heightMm);

// The first user-interface language tag, such as "zh-Hans-CN"; empty when there is none.
QString getPrimaryLanguage();

QString getLastErrorMessage();
// Nothing to do on this platform; kept for its callers.
void defragmentMemory();
QString getPlatformStyleName();
