#pragma once

#include <QString>

// Sets QCoreApplication::applicationVersion the way Qt does on macOS: from
// "CFBundleShortVersionString" (else "CFBundleVersion") of the running bundle's
// Info.plist; without a bundle, from the version the build compiled in.
void applyBundleApplicationVersion(const QString& compiledVersion);
