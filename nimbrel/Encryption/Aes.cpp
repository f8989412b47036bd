#include "Encryption/Aes.h"

#include <QtEndian>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace QuilmAes {

const unsigned char sbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

const unsigned char reverse_sbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

namespace {

// Multiplication by x in GF(2^8), without a data-dependent branch.
inline unsigned char xtime(unsigned char a)
{
    return static_cast<unsigned char>((a << 1) ^ (0x1b & -(a >> 7)));
}

bool validLengths(const unsigned char* data, int length, const unsigned char* key, int keyLength)
{
    return length >= 0 && length % 16 == 0 && keyLength % 16 == 0 && key && (data || length == 0);
}

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The whole file into a zeroed buffer of length + 1 bytes. The decoder wants
// the size as it is; the encoder rounds it up past the next block boundary.
bool readWholeFile(const std::string& fileName, bool padToBlock, std::unique_ptr<unsigned char[]>& bytes,
                   int& length)
{
    if (fileName.empty())
        return false;
    FilePtr file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        return false;
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(file.get());
    // The buffer forms take an int length.
    if (size <= 0 || size > INT_MAX - 32)
        return false;
    if (!padToBlock && size % 16 != 0)
        return false;
    std::rewind(file.get());
    length = padToBlock ? static_cast<int>(size / 16 * 16 + 16) : static_cast<int>(size);
    bytes.reset(new unsigned char[length + 1]());
    // A short read leaves the rest zero.
    std::fread(bytes.get(), 1, static_cast<size_t>(size), file.get());
    return true;
}

}

Aes::Aes()
{
    std::memset(roundKeys, 0, sizeof roundKeys);
    std::memcpy(sboxTable, sbox, sizeof sboxTable);
    std::memcpy(reverseSboxTable, reverse_sbox, sizeof reverseSboxTable);
}

Aes::Aes(unsigned char* sboxValues, unsigned char* reverseSboxValues)
{
    std::memset(roundKeys, 0, sizeof roundKeys);
    std::memcpy(sboxTable, sboxValues, sizeof sboxTable);
    std::memcpy(reverseSboxTable, reverseSboxValues, sizeof reverseSboxTable);
}

Aes::~Aes()
{
    encodeOutput.reset();
    decodeOutput.reset();
}

int Aes::AesEncode(unsigned char* data, int length, unsigned char* key, int keyLength)
{
    if (!validLengths(data, length, key, keyLength))
        return -1;
    KeyExpansion(key, keyLength);
    std::uint32_t keys[22][4];
    roundKeyRows(keys);
    std::shared_ptr<unsigned char[]> output(new unsigned char[length]);
    for (int offset = 0; offset < length; offset += 16)
        encodeBlock(data + offset, output.get() + offset, keys);
    encodeOutput = output;
    return 0;
}

int Aes::AesDecode(unsigned char* data, int length, unsigned char* key, int keyLength)
{
    if (!validLengths(data, length, key, keyLength))
        return -1;
    KeyExpansion(key, keyLength);
    std::uint32_t keys[22][4];
    roundKeyRows(keys);
    std::shared_ptr<unsigned char[]> output(new unsigned char[length + 8]);
    for (int offset = 0; offset < length; offset += 16)
        decodeBlock(data + offset, output.get() + offset, keys);
    // Lets a caller read the plaintext as a C string.
    output[length] = 0;
    decodeOutput = output;
    return 0;
}

int Aes::AesDecode(const std::string& fileName, unsigned char* key, int keyLength)
{
    std::unique_ptr<unsigned char[]> bytes;
    int length = 0;
    if (!readWholeFile(fileName, false, bytes, length))
        return -1;
    return AesDecode(bytes.get(), length, key, keyLength);
}

int Aes::AesEncode(const std::string& fileName, unsigned char* key, int keyLength)
{
    std::unique_ptr<unsigned char[]> bytes;
    int length = 0;
    if (!readWholeFile(fileName, true, bytes, length))
        return -1;
    return AesEncode(bytes.get(), length, key, keyLength);
}

int Aes::KeyExpansion(unsigned char* key, int /*keyLength*/)
{
    static const unsigned int rcon[10] = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
                                          0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};
    for (int i = 0; i < 4; ++i)
        roundKeys[i] = (static_cast<unsigned int>(key[4 * i]) << 24) | (key[4 * i + 1] << 16)
                       | (key[4 * i + 2] << 8) | key[4 * i + 3];
    for (int i = 0; i < 10; ++i) {
        const unsigned int last = roundKeys[4 * i + 3];
        // SubWord(RotWord(last))
        const unsigned int substituted = (static_cast<unsigned int>(sboxTable[(last >> 16) & 0xff]) << 24)
                                         | (sboxTable[(last >> 8) & 0xff] << 16) | (sboxTable[last & 0xff] << 8)
                                         | sboxTable[last >> 24];
        roundKeys[4 * i + 4] = roundKeys[4 * i] ^ substituted ^ rcon[i];
        for (int j = 5; j < 8; ++j)
            roundKeys[4 * i + j] = roundKeys[4 * i + j - 4] ^ roundKeys[4 * i + j - 1];
    }
    for (int round = 0; round <= 10; ++round)
        std::memcpy(&roundKeys[44 + 4 * round], &roundKeys[4 * (10 - round)], 4 * sizeof(unsigned int));
    return 0;
}

// The steps work on the state as four row words: row r of the state is four
// bytes, one per column, and byte c of row word r is state[r][c]. The block
// loops keep those words in registers and call these inline helpers; the
// public step functions load a state array into them and store it back.
namespace {

struct Rows
{
    std::uint32_t r0, r1, r2, r3;
};

inline std::uint32_t loadRow(const unsigned char row[4])
{
    std::uint32_t word;
    std::memcpy(&word, row, 4);
    return qFromLittleEndian(word);
}

inline void storeRow(unsigned char row[4], std::uint32_t word)
{
    word = qToLittleEndian(word);
    std::memcpy(row, &word, 4);
}

inline Rows fromArray(unsigned char state[4][4])
{
    return {loadRow(state[0]), loadRow(state[1]), loadRow(state[2]), loadRow(state[3])};
}

inline void toArray(const Rows& rows, unsigned char state[4][4])
{
    storeRow(state[0], rows.r0);
    storeRow(state[1], rows.r1);
    storeRow(state[2], rows.r2);
    storeRow(state[3], rows.r3);
}

inline std::uint32_t byteAt(std::uint32_t word, int index)
{
    return (word >> (8 * index)) & 0xff;
}

// Buffer byte k is row k mod 4, column k div 4.
inline std::uint32_t bufferRow(const unsigned char* buffer, int r)
{
    return buffer[r] | (buffer[4 + r] << 8) | (buffer[8 + r] << 16) | (static_cast<std::uint32_t>(buffer[12 + r]) << 24);
}

inline Rows fromBuffer(const unsigned char* buffer)
{
    return {bufferRow(buffer, 0), bufferRow(buffer, 1), bufferRow(buffer, 2), bufferRow(buffer, 3)};
}

inline void toBuffer(const Rows& rows, unsigned char* buffer)
{
    const std::uint32_t words[4] = {rows.r0, rows.r1, rows.r2, rows.r3};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            buffer[4 * c + r] = static_cast<unsigned char>(byteAt(words[r], c));
}

// Round-key words hold a column each, most significant byte in row 0.
inline Rows keyRows(const unsigned int* words)
{
    auto row = [words](int shift) {
        return ((words[0] >> shift) & 0xff) | (((words[1] >> shift) & 0xff) << 8)
               | (((words[2] >> shift) & 0xff) << 16) | (((words[3] >> shift) & 0xff) << 24);
    };
    return {row(24), row(16), row(8), row(0)};
}

inline void addRoundKey(Rows& rows, const Rows& key)
{
    rows.r0 ^= key.r0;
    rows.r1 ^= key.r1;
    rows.r2 ^= key.r2;
    rows.r3 ^= key.r3;
}

inline std::uint32_t substituteRow(const unsigned char* table, std::uint32_t row)
{
    return table[byteAt(row, 0)] | (table[byteAt(row, 1)] << 8) | (table[byteAt(row, 2)] << 16)
           | (static_cast<std::uint32_t>(table[byteAt(row, 3)]) << 24);
}

// Forced inline: as a call it would push the rows through memory.
Q_ALWAYS_INLINE void substitute(const unsigned char* table, Rows& rows)
{
    rows.r0 = substituteRow(table, rows.r0);
    rows.r1 = substituteRow(table, rows.r1);
    rows.r2 = substituteRow(table, rows.r2);
    rows.r3 = substituteRow(table, rows.r3);
}

inline std::uint32_t rotateRight(std::uint32_t word, int bits)
{
    return (word >> bits) | (word << (32 - bits));
}

// Left by r columns is right by r bytes in the row word.
inline void shiftRows(Rows& rows)
{
    rows.r1 = rotateRight(rows.r1, 8);
    rows.r2 = rotateRight(rows.r2, 16);
    rows.r3 = rotateRight(rows.r3, 24);
}

inline void invShiftRows(Rows& rows)
{
    rows.r1 = rotateRight(rows.r1, 24);
    rows.r2 = rotateRight(rows.r2, 16);
    rows.r3 = rotateRight(rows.r3, 8);
}

// xtime on each of the four bytes of a word.
inline std::uint32_t xtimeBytes(std::uint32_t word)
{
    return ((word & 0x7f7f7f7fu) << 1) ^ (((word >> 7) & 0x01010101u) * 0x1bu);
}

// 02 03 01 01 written as a ^ (a0^a1^a2^a3) ^ 2(a ^ next), all four columns at once.
inline void mixColumns(Rows& rows)
{
    const Rows a = rows;
    const std::uint32_t all = a.r0 ^ a.r1 ^ a.r2 ^ a.r3;
    rows.r0 = a.r0 ^ all ^ xtimeBytes(a.r0 ^ a.r1);
    rows.r1 = a.r1 ^ all ^ xtimeBytes(a.r1 ^ a.r2);
    rows.r2 = a.r2 ^ all ^ xtimeBytes(a.r2 ^ a.r3);
    rows.r3 = a.r3 ^ all ^ xtimeBytes(a.r3 ^ a.r0);
}

// 0e 0b 0d 09 factors into 05 00 04 00, applied first, then 02 03 01 01.
inline void invMixColumns(Rows& rows)
{
    const std::uint32_t even = xtimeBytes(xtimeBytes(rows.r0 ^ rows.r2));
    const std::uint32_t odd = xtimeBytes(xtimeBytes(rows.r1 ^ rows.r3));
    rows.r0 ^= even;
    rows.r1 ^= odd;
    rows.r2 ^= even;
    rows.r3 ^= odd;
    mixColumns(rows);
}

}

int Aes::TranSTRtoArray(unsigned char* buffer, unsigned char state[4][4])
{
    toArray(fromBuffer(buffer), state);
    return 0;
}

int Aes::TranArraytoSTR(unsigned char* buffer, unsigned char state[4][4])
{
    toBuffer(fromArray(state), buffer);
    return 0;
}

int Aes::AddRoundKey(unsigned char state[4][4], unsigned int* words)
{
    Rows rows = fromArray(state);
    addRoundKey(rows, keyRows(words));
    toArray(rows, state);
    return 0;
}

int Aes::TranBytes(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    substitute(sboxTable, rows);
    toArray(rows, state);
    return 0;
}

int Aes::InvTranBytes(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    substitute(reverseSboxTable, rows);
    toArray(rows, state);
    return 0;
}

int Aes::ShiftRows(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    shiftRows(rows);
    toArray(rows, state);
    return 0;
}

int Aes::InvShiftRows(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    invShiftRows(rows);
    toArray(rows, state);
    return 0;
}

int Aes::MixCols(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    mixColumns(rows);
    toArray(rows, state);
    return 0;
}

int Aes::InvMixCols(unsigned char state[4][4])
{
    Rows rows = fromArray(state);
    invMixColumns(rows);
    toArray(rows, state);
    return 0;
}

unsigned char Aes::Gmul(unsigned char a, unsigned char b)
{
    unsigned char product = 0;
    for (int bit = 0; bit < 8; ++bit) {
        product ^= a & -(b & 1);
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

// `keys` holds the 22 round keys as rows: the schedule's 11, then the reversed copy's.
void Aes::encodeBlock(const unsigned char* in, unsigned char* out, const std::uint32_t (*keys)[4])
{
    Rows rows = fromBuffer(in);
    addRoundKey(rows, {keys[0][0], keys[0][1], keys[0][2], keys[0][3]});
    for (int round = 1; round < 10; ++round) {
        substitute(sboxTable, rows);
        shiftRows(rows);
        mixColumns(rows);
        addRoundKey(rows, {keys[round][0], keys[round][1], keys[round][2], keys[round][3]});
    }
    substitute(sboxTable, rows);
    shiftRows(rows);
    addRoundKey(rows, {keys[10][0], keys[10][1], keys[10][2], keys[10][3]});
    toBuffer(rows, out);
}

void Aes::decodeBlock(const unsigned char* in, unsigned char* out, const std::uint32_t (*keys)[4])
{
    Rows rows = fromBuffer(in);
    addRoundKey(rows, {keys[11][0], keys[11][1], keys[11][2], keys[11][3]});
    for (int round = 1; round < 10; ++round) {
        substitute(reverseSboxTable, rows);
        invShiftRows(rows);
        addRoundKey(rows, {keys[11 + round][0], keys[11 + round][1], keys[11 + round][2], keys[11 + round][3]});
        invMixColumns(rows);
    }
    substitute(reverseSboxTable, rows);
    invShiftRows(rows);
    addRoundKey(rows, {keys[21][0], keys[21][1], keys[21][2], keys[21][3]});
    toBuffer(rows, out);
}

void Aes::roundKeyRows(std::uint32_t (*keys)[4]) const
{
    for (int k = 0; k < 22; ++k) {
        const Rows rows = keyRows(&roundKeys[4 * k]);
        keys[k][0] = rows.r0;
        keys[k][1] = rows.r1;
        keys[k][2] = rows.r2;
        keys[k][3] = rows.r3;
    }
}

}
