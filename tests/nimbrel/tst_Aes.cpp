#include "ConfigFileParser.h"
#include "Encryption/Aes.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>

#include <cstring>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

unsigned char* bytesOf(QByteArray& bytes)
{
    return reinterpret_cast<unsigned char*>(bytes.data());
}

QByteArray encodeOutput(const QuilmAes::Aes& aes, int length)
{
    return QByteArray(reinterpret_cast<const char*>(aes.encodeOutput.get()), length);
}

QByteArray decodeOutput(const QuilmAes::Aes& aes, int length)
{
    return QByteArray(reinterpret_cast<const char*>(aes.decodeOutput.get()), length);
}

// AES-128-ECB without padding, as the reference.
QByteArray opensslEcb(const QByteArray& key, const QByteArray& data, bool encrypt)
{
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(context, EVP_aes_128_ecb(), nullptr, reinterpret_cast<const unsigned char*>(key.constData()),
                      nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    QByteArray out(data.size() + 16, '\0');
    int written = 0;
    int finalWritten = 0;
    EVP_CipherUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &written,
                     reinterpret_cast<const unsigned char*>(data.constData()), static_cast<int>(data.size()));
    EVP_CipherFinal_ex(context, reinterpret_cast<unsigned char*>(out.data()) + written, &finalWritten);
    EVP_CIPHER_CTX_free(context);
    out.resize(written + finalWritten);
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The textbook products, to hold the fast column mixing against.
void mixColumnsByDefinition(QuilmAes::Aes& aes, unsigned char state[4][4], const unsigned char row[4])
{
    for (int c = 0; c < 4; ++c) {
        unsigned char column[4];
        for (int r = 0; r < 4; ++r)
            column[r] = state[r][c];
        for (int r = 0; r < 4; ++r) {
            unsigned char value = 0;
            for (int k = 0; k < 4; ++k)
                value ^= aes.Gmul(row[(k - r + 4) % 4], column[k]);
            state[r][c] = value;
        }
    }
}

} // namespace

class TestAes : public QObject
{
    Q_OBJECT

private slots:
    void standardVectors_data();
    void standardVectors();
    void agreesWithOpenssl_data();
    void agreesWithOpenssl();
    void lengthRules_data();
    void lengthRules();
    void onlyFirstSixteenKeyBytesCount();
    void decodeOutputEndsInZero();
    void refusedCallKeepsOutputs();
    void encodeFile_data();
    void encodeFile();
    void decodeFile();
    void fileRefusals_data();
    void fileRefusals();
    void gmul_data();
    void gmul();
    void columnMixingMatchesDefinition();
    void rowShiftsAreInverse();
};

void TestAes::standardVectors_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    QTest::newRow("appendix B") << QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c")
                                << QByteArray::fromHex("3243f6a8885a308d313198a2e0370734")
                                << QByteArray::fromHex("3925841d02dc09fbdc118597196a0b32");
    QTest::newRow("appendix C.1") << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f")
                                  << QByteArray::fromHex("00112233445566778899aabbccddeeff")
                                  << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
}

void TestAes::standardVectors()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(bytesOf(plain), 16, bytesOf(key), 16), 0);
    QCOMPARE(encodeOutput(aes, 16).toHex(), cipher.toHex());
    QCOMPARE(aes.AesDecode(bytesOf(cipher), 16, bytesOf(key), 16), 0);
    QCOMPARE(decodeOutput(aes, 16).toHex(), plain.toHex());
}

void TestAes::agreesWithOpenssl_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("one block") << 16 << 1u;
    QTest::newRow("two blocks") << 32 << 2u;
    QTest::newRow("a record") << 1024 << 3u;
    QTest::newRow("64 KiB") << 65536 << 4u;
}

void TestAes::agreesWithOpenssl()
{
    QFETCH(int, length);
    QFETCH(quint32, seed);
    QByteArray key = randomBytes(16, seed * 7919);
    QByteArray data = randomBytes(length, seed);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(bytesOf(data), length, bytesOf(key), 16), 0);
    QByteArray cipher = encodeOutput(aes, length);
    QCOMPARE(cipher, opensslEcb(key, data, true));
    QCOMPARE(aes.AesDecode(bytesOf(cipher), length, bytesOf(key), 16), 0);
    QCOMPARE(decodeOutput(aes, length), data);
    // And the other way round: OpenSSL's ciphertext of other data.
    QByteArray other = randomBytes(length, seed + 100);
    QByteArray otherCipher = opensslEcb(key, other, true);
    QCOMPARE(aes.AesDecode(bytesOf(otherCipher), length, bytesOf(key), 16), 0);
    QCOMPARE(decodeOutput(aes, length), other);
}

void TestAes::lengthRules_data()
{
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("result");
    QTest::newRow("16 / 16") << 16 << 16 << 0;
    QTest::newRow("48 / 16") << 48 << 16 << 0;
    QTest::newRow("empty data") << 0 << 16 << 0;
    QTest::newRow("key length 0") << 16 << 0 << 0;
    QTest::newRow("key length 32") << 16 << 32 << 0;
    QTest::newRow("key length 15") << 16 << 15 << -1;
    QTest::newRow("key length 17") << 16 << 17 << -1;
    QTest::newRow("data length 17") << 17 << 16 << -1;
    QTest::newRow("data length 15") << 15 << 16 << -1;
    QTest::newRow("negative data length") << -16 << 16 << -1;
}

void TestAes::lengthRules()
{
    QFETCH(int, dataLength);
    QFETCH(int, keyLength);
    QFETCH(int, result);
    QByteArray key = randomBytes(32, 11);
    QByteArray data = randomBytes(64, 12);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(bytesOf(data), dataLength, bytesOf(key), keyLength), result);
    QCOMPARE(aes.AesDecode(bytesOf(data), dataLength, bytesOf(key), keyLength), result);
    QCOMPARE(aes.encodeOutput != nullptr, result == 0);
    QCOMPARE(aes.decodeOutput != nullptr, result == 0);
    if (result == 0 && dataLength == 0)
        QCOMPARE(aes.decodeOutput[0], static_cast<unsigned char>(0));
}

void TestAes::onlyFirstSixteenKeyBytesCount()
{
    QByteArray key = randomBytes(32, 21);
    QByteArray data = randomBytes(64, 22);
    const QByteArray expected = opensslEcb(key.left(16), data, true);
    for (int keyLength : {0, 16, 32}) {
        QuilmAes::Aes aes;
        QCOMPARE(aes.AesEncode(bytesOf(data), 64, bytesOf(key), keyLength), 0);
        QCOMPARE(encodeOutput(aes, 64), expected);
    }
}

void TestAes::decodeOutputEndsInZero()
{
    QByteArray key = randomBytes(16, 31);
    QByteArray plain("a plaintext of exactly 32 bytes!");
    plain[20] = '\0';
    QByteArray cipher = opensslEcb(key, plain, true);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesDecode(bytesOf(cipher), 32, bytesOf(key), 16), 0);
    QCOMPARE(decodeOutput(aes, 32), plain);
    QCOMPARE(aes.decodeOutput[32], static_cast<unsigned char>(0));
    // Read as a C string, the text stops at the zero inside the plaintext.
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(aes.decodeOutput.get())), plain.left(20));
}

void TestAes::refusedCallKeepsOutputs()
{
    QByteArray key = randomBytes(16, 41);
    QByteArray data = randomBytes(32, 42);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(bytesOf(data), 32, bytesOf(key), 16), 0);
    QCOMPARE(aes.AesDecode(bytesOf(data), 32, bytesOf(key), 16), 0);
    const std::shared_ptr<unsigned char[]> encoded = aes.encodeOutput;
    const std::shared_ptr<unsigned char[]> decoded = aes.decodeOutput;
    const QByteArray encodedBytes = encodeOutput(aes, 32);
    const QByteArray decodedBytes = decodeOutput(aes, 33);

    QCOMPARE(aes.AesEncode(bytesOf(data), 17, bytesOf(key), 16), -1);
    QCOMPARE(aes.AesDecode(bytesOf(data), 32, bytesOf(key), 8), -1);
    QCOMPARE(aes.AesDecode(std::string(), bytesOf(key), 16), -1);
    QCOMPARE(aes.AesEncode(std::string("/nonexistent/file"), bytesOf(key), 16), -1);

    QCOMPARE(aes.encodeOutput, encoded);
    QCOMPARE(aes.decodeOutput, decoded);
    QCOMPARE(encodeOutput(aes, 32), encodedBytes);
    QCOMPARE(decodeOutput(aes, 33), decodedBytes);

    // A later success gives a fresh array; a copy of the old one stays valid.
    QCOMPARE(aes.AesEncode(bytesOf(data), 16, bytesOf(key), 16), 0);
    QVERIFY(aes.encodeOutput != encoded);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(encoded.get()), 32), encodedBytes);
}

void TestAes::encodeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("padded");
    QTest::newRow("1 byte") << 1 << 16;
    QTest::newRow("5 bytes") << 5 << 16;
    QTest::newRow("15 bytes") << 15 << 16;
    QTest::newRow("16 bytes") << 16 << 32;
    QTest::newRow("31 bytes") << 31 << 32;
    QTest::newRow("32 bytes") << 32 << 48;
    QTest::newRow("1000 bytes") << 1000 << 1008;
}

void TestAes::encodeFile()
{
    QFETCH(int, size);
    QFETCH(int, padded);
    QTemporaryDir dir;
    const QString path = dir.filePath("plain.bin");
    const QByteArray content = randomBytes(size, static_cast<quint32>(size));
    writeFile(path, content);
    QByteArray key(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), 16);

    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(path.toStdString(), bytesOf(key), 16), 0);
    const QByteArray zeroFilled = content + QByteArray(padded - size, '\0');
    QCOMPARE(encodeOutput(aes, padded), opensslEcb(key, zeroFilled, true));
}

void TestAes::decodeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("cipher.bin");
    QByteArray key(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), 16);
    const QByteArray plain = randomBytes(48, 51);
    writeFile(path, opensslEcb(key, plain, true));

    QuilmAes::Aes aes;
    QCOMPARE(aes.AesDecode(path.toStdString(), bytesOf(key), 16), 0);
    QCOMPARE(decodeOutput(aes, 48), plain);
    QCOMPARE(aes.decodeOutput[48], static_cast<unsigned char>(0));
}

void TestAes::fileRefusals_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("create");
    QTest::addColumn<bool>("decodeAccepts");
    QTest::addColumn<bool>("encodeAccepts");
    QTest::newRow("missing file") << 0 << false << false << false;
    QTest::newRow("empty file") << 0 << true << false << false;
    QTest::newRow("33 bytes") << 33 << true << false << true;
    QTest::newRow("15 bytes") << 15 << true << false << true;
    QTest::newRow("32 bytes") << 32 << true << true << true;
}

void TestAes::fileRefusals()
{
    QFETCH(int, size);
    QFETCH(bool, create);
    QFETCH(bool, decodeAccepts);
    QFETCH(bool, encodeAccepts);
    QTemporaryDir dir;
    const QString path = dir.filePath("file.bin");
    if (create)
        writeFile(path, randomBytes(size, 61));
    QByteArray key(reinterpret_cast<const char*>(NIMBREL_CONFIG_KEY), 16);

    QuilmAes::Aes aes;
    QCOMPARE(aes.AesDecode(path.toStdString(), bytesOf(key), 16), decodeAccepts ? 0 : -1);
    QCOMPARE(aes.AesEncode(path.toStdString(), bytesOf(key), 16), encodeAccepts ? 0 : -1);
    QCOMPARE(aes.decodeOutput != nullptr, decodeAccepts);
    QCOMPARE(aes.encodeOutput != nullptr, encodeAccepts);
    QCOMPARE(aes.AesDecode(std::string(), bytesOf(key), 16), -1);
    QCOMPARE(aes.AesEncode(std::string(), bytesOf(key), 16), -1);
}

void TestAes::gmul_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("product");
    QTest::newRow("57 * 83") << 0x57 << 0x83 << 0xc1;
    QTest::newRow("57 * 13") << 0x57 << 0x13 << 0xfe;
    QTest::newRow("57 * 02") << 0x57 << 0x02 << 0xae;
    QTest::newRow("80 * 02 reduces") << 0x80 << 0x02 << 0x1b;
    QTest::newRow("ff * 00") << 0xff << 0x00 << 0x00;
    QTest::newRow("01 * ff") << 0x01 << 0xff << 0xff;
}

void TestAes::gmul()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, product);
    QuilmAes::Aes aes;
    QCOMPARE(int(aes.Gmul(static_cast<unsigned char>(a), static_cast<unsigned char>(b))), product);
    QCOMPARE(int(aes.Gmul(static_cast<unsigned char>(b), static_cast<unsigned char>(a))), product);
}

void TestAes::columnMixingMatchesDefinition()
{
    static const unsigned char forward[4] = {0x02, 0x03, 0x01, 0x01};
    static const unsigned char inverse[4] = {0x0e, 0x0b, 0x0d, 0x09};
    QuilmAes::Aes aes;
    QRandomGenerator generator(71);
    for (int round = 0; round < 200; ++round) {
        unsigned char state[4][4];
        for (auto& row : state)
            for (unsigned char& byte : row)
                byte = static_cast<unsigned char>(generator.bounded(256));
        unsigned char fast[4][4];
        unsigned char reference[4][4];
        std::memcpy(fast, state, sizeof state);
        std::memcpy(reference, state, sizeof state);
        aes.MixCols(fast);
        mixColumnsByDefinition(aes, reference, forward);
        QVERIFY(std::memcmp(fast, reference, sizeof fast) == 0);

        std::memcpy(fast, state, sizeof state);
        std::memcpy(reference, state, sizeof state);
        aes.InvMixCols(fast);
        mixColumnsByDefinition(aes, reference, inverse);
        QVERIFY(std::memcmp(fast, reference, sizeof fast) == 0);
    }
}

void TestAes::rowShiftsAreInverse()
{
    QuilmAes::Aes aes;
    unsigned char state[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            state[r][c] = static_cast<unsigned char>(16 * r + c);
    aes.ShiftRows(state);
    // Row r rotated left by r.
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(int(state[r][c]), 16 * r + (c + r) % 4);
    aes.InvShiftRows(state);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(int(state[r][c]), 16 * r + c);
}

QTEST_GUILESS_MAIN(TestAes)
#include "tst_Aes.moc"
