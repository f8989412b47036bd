#pragma once

#include <QString>

// Single keys of INI files ("group/key").
void setIni(QString path, QString key, QString value);
// The default when the file or the key is absent; the file is not created.
QString getIni(QString path, QString key, QString defaultValue);

// Theme and language from "smart.ini" of the per-user folder into gConfig.
void ReadConfig();
