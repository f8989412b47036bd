#include "CryptFixtures.h"

#include "ConfigFileParser.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <openssl/evp.h>

namespace CryptFixtures {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable("cannot write fixture " + path));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray opensslEcb(const QByteArray& key, const QByteArray& data, bool encrypt)
{
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(context, EVP_aes_128_ecb(), nullptr, reinterpret_cast<const unsigned char*>(key.constData()),
                      nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    QByteArray out(data.size(), '\0');
    int written = 0;
    EVP_CipherUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &written,
                     reinterpret_cast<const unsigned char*>(data.constData()), static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(context);
    out.resize(written);
    return out;
}

QByteArray encipher(const QByteArray& plain)
{
    return opensslEcb(QByteArray(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), NIMBREL_CONFIG_KEY_LENGTH), plain,
                      true);
}

QByteArray record(const QByteArray& header, const QByteArray& plain)
{
    return header + encipher(plain);
}

QByteArray expectedBlockFile(const QByteArray& plain)
{
    QByteArray file;
    for (qsizetype offset = 0; offset < plain.size(); offset += 1024) {
        QByteArray chunk = plain.mid(offset, 1024);
        const int pad = chunk.size() % 16 ? 16 - chunk.size() % 16 : 0;
        chunk.append(pad, static_cast<char>(pad));
        const QByteArray header = (pad ? "1" : "0") + QByteArray::number(chunk.size()).rightJustified(5, '0');
        file += record(header, chunk);
    }
    return file;
}

} // namespace CryptFixtures
