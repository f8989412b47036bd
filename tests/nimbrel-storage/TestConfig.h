#pragma once

#include <QByteArray>
#include <QString>

// Configuration files for the storage tests, written with the nimbrel-config tool.
namespace TestConfig {

// The encrypted file for one account; an empty QString when the tool failed.
QString writeConfig(const QString& path, const QString& host, const QString& bucket, const QString& accessId,
                    const QString& accessSecret);

// A file that cannot be deciphered (its size is not a multiple of 16).
QString writeUndecodable(const QString& path);

// A file that deciphers to text without the four account lines.
QString writeUnparsable(const QString& path);

// The faulty file a test row names: "undecodable", "unparsable" or "fifo" (a
// named pipe that no one writes); for any other kind ("none", "missing")
// nothing is written. False when writing failed.
bool writeFaulty(const QString& path, const QString& kind);

bool writeFile(const QString& path, const QByteArray& content);

} // namespace TestConfig
