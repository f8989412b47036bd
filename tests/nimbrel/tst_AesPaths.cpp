// The block paths of the cipher: the table rounds and the processor's AES
// instructions, narrow and wide, must give the same bytes as each other and as
// OpenSSL, and the instructions must never stand in for S-boxes other than the
// standard ones.
// Linked against the cipher's objects, not the library, so that the table
// rounds can be switched on alone.
#include "CryptFixtures.h"
#include "Encryption/Aes.h"
#include "Encryption/AesBlocks_p.h"

#include <QTest>

#include <cstring>

using CryptFixtures::opensslEcb;
using CryptFixtures::randomBytes;

namespace {

const unsigned char* bytesOf(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

unsigned char* bytesOf(QByteArray& bytes)
{
    return reinterpret_cast<unsigned char*>(bytes.data());
}

unsigned char xtime(unsigned char a)
{
    return static_cast<unsigned char>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
}

// Textbook AES-128 encryption, byte by byte, with any S-box.
QByteArray referenceEncode(const unsigned char* sbox, const QByteArray& key, const QByteArray& data)
{
    unsigned char w[176];
    std::memcpy(w, key.constData(), 16);
    unsigned char rcon = 1;
    for (int i = 16; i < 176; i += 4) {
        unsigned char t[4] = {w[i - 4], w[i - 3], w[i - 2], w[i - 1]};
        if (i % 16 == 0) {
            const unsigned char first = t[0];
            t[0] = static_cast<unsigned char>(sbox[t[1]] ^ rcon);
            t[1] = sbox[t[2]];
            t[2] = sbox[t[3]];
            t[3] = sbox[first];
            rcon = xtime(rcon);
        }
        for (int j = 0; j < 4; ++j)
            w[i + j] = static_cast<unsigned char>(w[i - 16 + j] ^ t[j]);
    }

    QByteArray out = data;
    for (int offset = 0; offset < out.size(); offset += 16) {
        unsigned char* b = bytesOf(out) + offset; // byte 4c + r is row r, column c
        for (int i = 0; i < 16; ++i)
            b[i] ^= w[i];
        for (int round = 1; round <= 10; ++round) {
            unsigned char shifted[16];
            for (int c = 0; c < 4; ++c)
                for (int r = 0; r < 4; ++r)
                    shifted[4 * c + r] = sbox[b[4 * ((c + r) % 4) + r]];
            std::memcpy(b, shifted, 16);
            if (round < 10) {
                for (int c = 0; c < 4; ++c) {
                    const unsigned char a0 = b[4 * c], a1 = b[4 * c + 1], a2 = b[4 * c + 2], a3 = b[4 * c + 3];
                    b[4 * c] = static_cast<unsigned char>(xtime(a0) ^ xtime(a1) ^ a1 ^ a2 ^ a3);
                    b[4 * c + 1] = static_cast<unsigned char>(a0 ^ xtime(a1) ^ xtime(a2) ^ a2 ^ a3);
                    b[4 * c + 2] = static_cast<unsigned char>(a0 ^ a1 ^ xtime(a2) ^ xtime(a3) ^ a3);
                    b[4 * c + 3] = static_cast<unsigned char>(xtime(a0) ^ a0 ^ a1 ^ a2 ^ xtime(a3));
                }
            }
            for (int i = 0; i < 16; ++i)
                b[i] ^= w[16 * round + i];
        }
    }
    return out;
}

enum class Path { Tables, Instructions, WideInstructions };

const Path allPaths[] = {Path::Tables, Path::Instructions, Path::WideInstructions};

QuilmAes::AesRoundKeys keysFor(const QByteArray& key, Path path)
{
    QuilmAes::setHardwareAesEnabled(path != Path::Tables);
    QuilmAes::setWideAesEnabled(path == Path::WideInstructions);
    const QuilmAes::AesRoundKeys keys = QuilmAes::standardRoundKeys(bytesOf(key));
    QuilmAes::setHardwareAesEnabled(true);
    QuilmAes::setWideAesEnabled(true);
    return keys;
}

// Whether keys for the path take it here, or fall back to a narrower one.
bool pathAvailable(Path path)
{
    switch (path) {
    case Path::Tables: return true;
    case Path::Instructions: return QuilmAes::hardwareAesEnabled();
    case Path::WideInstructions: break;
    }
    return QuilmAes::wideAesEnabled();
}

// The data through the block loops in pieces of `piece` bytes.
QByteArray inPieces(const QuilmAes::AesRoundKeys& keys, const QByteArray& data, int piece, bool encode)
{
    QByteArray out(data.size(), '\0');
    for (int offset = 0; offset < data.size(); offset += piece) {
        const std::size_t length = static_cast<std::size_t>(qMin(piece, int(data.size()) - offset));
        if (encode)
            QuilmAes::encodeBlocks(keys, QuilmAes::sbox, bytesOf(data) + offset, bytesOf(out) + offset, length);
        else
            QuilmAes::decodeBlocks(keys, QuilmAes::reverse_sbox, bytesOf(data) + offset, bytesOf(out) + offset, length);
    }
    return out;
}

// A valid S-box that is not the standard one, and its inverse.
struct ShiftedTables
{
    ShiftedTables()
    {
        for (int x = 0; x < 256; ++x) {
            forward[x] = QuilmAes::sbox[x ^ 0x5a];
            inverse[forward[x]] = static_cast<unsigned char>(x);
        }
    }
    unsigned char forward[256];
    unsigned char inverse[256];
};

} // namespace

class TestAesPaths : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pathsAgree_data();
    void pathsAgree();
    void inPlace();
    void aesObjectOnTablesAlone_data();
    void aesObjectOnTablesAlone();
    void standardTablesPassedInUseTheFastPath();
    void customTablesKeepTheirOwnRounds();
    void scheduleFollowsTheKey_data();
    void scheduleFollowsTheKey();
};

void TestAesPaths::init()
{
    QuilmAes::setHardwareAesEnabled(true);
    QuilmAes::setWideAesEnabled(true);
}

void TestAesPaths::cleanup()
{
    init();
}

void TestAesPaths::pathsAgree_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("piece");
    QTest::addColumn<quint32>("seed");
    // Around the eight blocks the narrow instructions take at once, and the
    // sixteen of the wide ones.
    QTest::newRow("empty") << 0 << 16 << 1u;
    QTest::newRow("1 block") << 16 << 16 << 2u;
    QTest::newRow("7 blocks") << 112 << 112 << 3u;
    QTest::newRow("8 blocks") << 128 << 128 << 4u;
    QTest::newRow("9 blocks") << 144 << 144 << 5u;
    QTest::newRow("15 blocks") << 240 << 240 << 6u;
    QTest::newRow("16 blocks") << 256 << 256 << 13u;
    QTest::newRow("17 blocks") << 272 << 272 << 14u;
    QTest::newRow("24 blocks") << 384 << 384 << 15u;
    QTest::newRow("31 blocks") << 496 << 496 << 16u;
    QTest::newRow("a record") << 1024 << 1024 << 7u;
    QTest::newRow("a padded record") << 1040 << 1040 << 8u;
    QTest::newRow("records in blocks") << 4096 + 48 << 16 << 9u;
    QTest::newRow("records in threes") << 4096 + 48 << 48 << 10u;
    QTest::newRow("64 KiB in records") << 65536 << 1024 << 11u;
    QTest::newRow("64 KiB at once") << 65536 << 65536 << 12u;
}

void TestAesPaths::pathsAgree()
{
    QFETCH(int, length);
    QFETCH(int, piece);
    QFETCH(quint32, seed);
    if (!QuilmAes::hardwareAesEnabled())
        qInfo("no AES instructions here: the table rounds are held against OpenSSL alone");
    else if (!QuilmAes::wideAesEnabled())
        qInfo("no wide AES instructions here: the narrow ones and the table rounds are held against OpenSSL");
    const QByteArray key = randomBytes(16, seed * 7919);
    const QByteArray plain = randomBytes(length, seed);
    const QByteArray cipher = opensslEcb(key, plain, true);

    for (Path path : allPaths) {
        const QuilmAes::AesRoundKeys keys = keysFor(key, path);
        QCOMPARE(keys.useHardware, path != Path::Tables && pathAvailable(Path::Instructions));
        QCOMPARE(keys.useWide, path == Path::WideInstructions && pathAvailable(path));
        QCOMPARE(inPieces(keys, plain, piece, true).toHex(), cipher.toHex());
        QCOMPARE(inPieces(keys, cipher, piece, false).toHex(), plain.toHex());
    }
}

void TestAesPaths::inPlace()
{
    const QByteArray key = randomBytes(16, 21);
    const QByteArray plain = randomBytes(1040, 22);
    for (Path path : allPaths) {
        const QuilmAes::AesRoundKeys keys = keysFor(key, path);
        QByteArray buffer = plain;
        QuilmAes::encodeBlocks(keys, QuilmAes::sbox, bytesOf(buffer), bytesOf(buffer), 1040);
        QCOMPARE(buffer, opensslEcb(key, plain, true));
        QuilmAes::decodeBlocks(keys, QuilmAes::reverse_sbox, bytesOf(buffer), bytesOf(buffer), 1040);
        QCOMPARE(buffer, plain);
    }
}

void TestAesPaths::aesObjectOnTablesAlone_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("1 block") << 16;
    QTest::newRow("9 blocks") << 144;
    QTest::newRow("a record") << 1024;
}

// The public cipher with the instructions off, as on a processor without them.
void TestAesPaths::aesObjectOnTablesAlone()
{
    QFETCH(int, length);
    QByteArray key = randomBytes(16, 31);
    QByteArray plain = randomBytes(length, 32);
    QuilmAes::setHardwareAesEnabled(false);
    QuilmAes::Aes aes;
    QCOMPARE(aes.AesEncode(bytesOf(plain), length, bytesOf(key), 16), 0);
    QByteArray cipher(reinterpret_cast<const char*>(aes.encodeOutput.get()), length);
    QCOMPARE(cipher, opensslEcb(key, plain, true));
    QCOMPARE(aes.AesDecode(bytesOf(cipher), length, bytesOf(key), 16), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(aes.decodeOutput.get()), length), plain);
}

void TestAesPaths::standardTablesPassedInUseTheFastPath()
{
    QByteArray key = randomBytes(16, 41);
    QByteArray plain = randomBytes(1024, 42);
    unsigned char forward[256];
    unsigned char inverse[256];
    std::memcpy(forward, QuilmAes::sbox, 256);
    std::memcpy(inverse, QuilmAes::reverse_sbox, 256);
    QuilmAes::Aes aes(forward, inverse);
    QCOMPARE(aes.AesEncode(bytesOf(plain), 1024, bytesOf(key), 16), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(aes.encodeOutput.get()), 1024), opensslEcb(key, plain, true));
}

void TestAesPaths::customTablesKeepTheirOwnRounds()
{
    const ShiftedTables tables;
    QByteArray key = randomBytes(16, 51);
    QByteArray plain = randomBytes(1024 + 48, 52);
    const QByteArray expected = referenceEncode(tables.forward, key, plain);
    // The reference itself is textbook AES: with the standard S-box it agrees with OpenSSL.
    QCOMPARE(referenceEncode(QuilmAes::sbox, key, plain), opensslEcb(key, plain, true));
    QVERIFY(expected != opensslEcb(key, plain, true));

    for (bool hardware : {false, true}) {
        QuilmAes::setHardwareAesEnabled(hardware);
        unsigned char forward[256];
        unsigned char inverse[256];
        std::memcpy(forward, tables.forward, 256);
        std::memcpy(inverse, tables.inverse, 256);
        QuilmAes::Aes aes(forward, inverse);
        QCOMPARE(aes.AesEncode(bytesOf(plain), int(plain.size()), bytesOf(key), 16), 0);
        QByteArray cipher(reinterpret_cast<const char*>(aes.encodeOutput.get()), plain.size());
        QCOMPARE(cipher.toHex(), expected.toHex());
        QCOMPARE(aes.AesDecode(bytesOf(cipher), int(cipher.size()), bytesOf(key), 16), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(aes.decodeOutput.get()), plain.size()), plain);
    }
}

void TestAesPaths::scheduleFollowsTheKey_data()
{
    QTest::addColumn<bool>("hardware");
    QTest::newRow("tables") << false;
    QTest::newRow("instructions") << true;
}

// The schedule is kept between calls; whatever changes the key must show.
void TestAesPaths::scheduleFollowsTheKey()
{
    QFETCH(bool, hardware);
    QuilmAes::setHardwareAesEnabled(hardware);
    const QByteArray keyA = randomBytes(16, 61);
    const QByteArray keyB = randomBytes(16, 62);
    QByteArray plain = randomBytes(64, 63);
    QuilmAes::Aes aes;
    const auto encodeWith = [&](QByteArray& key) {
        if (aes.AesEncode(bytesOf(plain), 64, bytesOf(key), 16) != 0)
            return QByteArray();
        return QByteArray(reinterpret_cast<const char*>(aes.encodeOutput.get()), 64);
    };

    QByteArray key = keyA;
    QCOMPARE(encodeWith(key), opensslEcb(keyA, plain, true));
    // Same buffer, new bytes.
    const unsigned char* const before = bytesOf(key);
    std::memcpy(key.data(), keyB.constData(), 16);
    QCOMPARE(bytesOf(key), before);
    QCOMPARE(encodeWith(key), opensslEcb(keyB, plain, true));
    QByteArray otherBuffer = keyA;
    QCOMPARE(encodeWith(otherBuffer), opensslEcb(keyA, plain, true));
    // An explicit expansion of another key in between.
    aes.KeyExpansion(bytesOf(key), 16);
    QCOMPARE(encodeWith(otherBuffer), opensslEcb(keyA, plain, true));
    // Decoding after encoding with the same key, and with another.
    QByteArray cipher = opensslEcb(keyB, plain, true);
    QCOMPARE(aes.AesDecode(bytesOf(cipher), 64, bytesOf(key), 16), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(aes.decodeOutput.get()), 64), plain);
}

QTEST_GUILESS_MAIN(TestAesPaths)
#include "tst_AesPaths.moc"
