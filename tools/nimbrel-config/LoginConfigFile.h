#pragma once

#include "OssLoginInfo.h"

#include <QByteArray>
#include <QString>

// Writing and reading the encrypted configuration file that libNimbrel's
// storage workers decipher.
namespace LoginConfigFile {

// The four key=value lines, zero-filled to whole blocks and enciphered with
// the library's key.
QByteArray encode(const OssLoginInfo& info);

bool write(const QString& path, const OssLoginInfo& info, QString& error);
bool read(const QString& path, OssLoginInfo& info, QString& error);

} // namespace LoginConfigFile
