#pragma once

#include <QtEndian>

#include <cstdint>
#include <cstring>

// The table rounds work on the state as four row words: row r of the state is
// four bytes, one per column, and byte c of row word r is state[r][c]. The
// block loops keep those words in registers and call these inline helpers;
// Aes's public step functions load a state array into them and store it back.
namespace QuilmAes {
namespace AesRows {

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
    return buffer[r] | (buffer[4 + r] << 8) | (buffer[8 + r] << 16)
           | (static_cast<std::uint32_t>(buffer[12 + r]) << 24);
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
        return ((words[0] >> shift) & 0xff) | (((words[1] >> shift) & 0xff) << 8) | (((words[2] >> shift) & 0xff) << 16)
               | (((words[3] >> shift) & 0xff) << 24);
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

} // namespace AesRows
} // namespace QuilmAes
