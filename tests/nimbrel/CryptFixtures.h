#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Files and block records for the crypt worker tests, built independently of
// the library (the ciphertext comes from OpenSSL).
namespace CryptFixtures {

QByteArray randomBytes(qsizetype size, quint32 seed);
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// AES-128-ECB of whole blocks, without padding, by OpenSSL.
QByteArray opensslEcb(const QByteArray& key, const QByteArray& data, bool encrypt);
// The same under the library's key.
QByteArray encipher(const QByteArray& plain);
// One record with the given header over the enciphered plain bytes.
QByteArray record(const QByteArray& header, const QByteArray& plain);
// What the writer must produce for these bytes.
QByteArray expectedBlockFile(const QByteArray& plain);

} // namespace CryptFixtures
