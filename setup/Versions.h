#pragma once

#include <QList>
#include <QString>

// Version of the bundle whose property list is at plistPath; empty when unknown.
void getOtherFileVersion(const QString& plistPath, QString& version);
// Version of the running bundle; empty when unknown.
void getCurFileVersion(QString& version);

// True when the second dotted version is newer than the first. Parts compare as signed
// integers (anything that is not a number counts as 0); versions with different numbers
// of parts are never newer than one another.
bool checkCompareFileNewVersion(QString& first, QString& second);
bool checkCompareFileNewVersion(QList<QString>& first, QList<QString>& second);
