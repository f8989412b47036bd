#pragma once

// Property lists (Info.plist) in their XML form, which macOS reads natively.

#include <QSettings>
#include <QString>
#include <QVariantMap>

namespace PropertyList {

// Reads the top-level dictionary of an XML property list. Nested dictionaries become
// QVariantMaps, arrays QVariantLists. False when the file is not a readable property list.
bool readFile(const QString& path, QVariantMap& dictionary);

// The QSettings format that reads and writes XML property lists: nested dictionaries
// appear as "group/key". Stands in for QSettings::NativeFormat, which on macOS reads
// property lists and elsewhere is INI.
QSettings::Format settingsFormat();

} // namespace PropertyList
