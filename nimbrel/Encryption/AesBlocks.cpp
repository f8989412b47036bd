#include "Encryption/AesBlocks_p.h"

#include "Encryption/Aes.h"
#include "Encryption/AesHardwareWide_p.h"
#include "Encryption/AesRows.h"

#include <atomic>
#include <cstring>

namespace QuilmAes {

using namespace AesRows;

namespace {

std::atomic<bool> hardwareEnabled{true};
std::atomic<bool> wideEnabled{true};

// `keys` holds the 22 round keys as rows: the schedule's 11, then the reversed copy's.
void encodeBlock(const unsigned char* sbox, const unsigned char* in, unsigned char* out, const std::uint32_t (*keys)[4])
{
    Rows rows = fromBuffer(in);
    addRoundKey(rows, {keys[0][0], keys[0][1], keys[0][2], keys[0][3]});
    for (int round = 1; round < 10; ++round) {
        substitute(sbox, rows);
        shiftRows(rows);
        mixColumns(rows);
        addRoundKey(rows, {keys[round][0], keys[round][1], keys[round][2], keys[round][3]});
    }
    substitute(sbox, rows);
    shiftRows(rows);
    addRoundKey(rows, {keys[10][0], keys[10][1], keys[10][2], keys[10][3]});
    toBuffer(rows, out);
}

void decodeBlock(const unsigned char* reverseSbox, const unsigned char* in, unsigned char* out,
                 const std::uint32_t (*keys)[4])
{
    Rows rows = fromBuffer(in);
    addRoundKey(rows, {keys[11][0], keys[11][1], keys[11][2], keys[11][3]});
    for (int round = 1; round < 10; ++round) {
        substitute(reverseSbox, rows);
        invShiftRows(rows);
        addRoundKey(rows, {keys[11 + round][0], keys[11 + round][1], keys[11 + round][2], keys[11 + round][3]});
        invMixColumns(rows);
    }
    substitute(reverseSbox, rows);
    invShiftRows(rows);
    addRoundKey(rows, {keys[21][0], keys[21][1], keys[21][2], keys[21][3]});
    toBuffer(rows, out);
}

} // namespace

void expandKey(const unsigned char* key, const unsigned char* sbox, unsigned int* schedule)
{
    static const unsigned int rcon[10] = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
                                          0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};
    for (int i = 0; i < 4; ++i)
        schedule[i] = (static_cast<unsigned int>(key[4 * i]) << 24) | (key[4 * i + 1] << 16) | (key[4 * i + 2] << 8)
                      | key[4 * i + 3];
    for (int i = 0; i < 10; ++i) {
        const unsigned int last = schedule[4 * i + 3];
        // SubWord(RotWord(last))
        const unsigned int substituted = (static_cast<unsigned int>(sbox[(last >> 16) & 0xff]) << 24)
                                         | (sbox[(last >> 8) & 0xff] << 16) | (sbox[last & 0xff] << 8)
                                         | sbox[last >> 24];
        schedule[4 * i + 4] = schedule[4 * i] ^ substituted ^ rcon[i];
        for (int j = 5; j < 8; ++j)
            schedule[4 * i + j] = schedule[4 * i + j - 4] ^ schedule[4 * i + j - 1];
    }
    for (int round = 0; round <= 10; ++round)
        std::memcpy(&schedule[44 + 4 * round], &schedule[4 * (10 - round)], 4 * sizeof(unsigned int));
}

void prepareRoundKeys(const unsigned int* schedule, bool standardTables, AesRoundKeys& keys)
{
    for (int k = 0; k < 22; ++k) {
        const Rows rows = keyRows(&schedule[4 * k]);
        keys.rows[k][0] = rows.r0;
        keys.rows[k][1] = rows.r1;
        keys.rows[k][2] = rows.r2;
        keys.rows[k][3] = rows.r3;
    }
    keys.useHardware = standardTables && hardwareAesEnabled();
    keys.useWide = keys.useHardware && wideAesEnabled();
    if (keys.useHardware)
        AesHardware::prepareKeys(schedule, keys.hardware);
}

AesRoundKeys standardRoundKeys(const unsigned char* key)
{
    unsigned int schedule[88];
    expandKey(key, sbox, schedule);
    AesRoundKeys keys;
    prepareRoundKeys(schedule, true, keys);
    return keys;
}

void encodeBlocks(const AesRoundKeys& keys, const unsigned char* sbox, const unsigned char* in, unsigned char* out,
                  std::size_t length)
{
    if (keys.useWide) {
        AesHardwareWide::encode(keys.hardware, in, out, length / 16);
        return;
    }
    if (keys.useHardware) {
        AesHardware::encode(keys.hardware, in, out, length / 16);
        return;
    }
    for (std::size_t offset = 0; offset < length; offset += 16)
        encodeBlock(sbox, in + offset, out + offset, keys.rows);
}

void decodeBlocks(const AesRoundKeys& keys, const unsigned char* reverseSbox, const unsigned char* in,
                  unsigned char* out, std::size_t length)
{
    if (keys.useWide) {
        AesHardwareWide::decode(keys.hardware, in, out, length / 16);
        return;
    }
    if (keys.useHardware) {
        AesHardware::decode(keys.hardware, in, out, length / 16);
        return;
    }
    for (std::size_t offset = 0; offset < length; offset += 16)
        decodeBlock(reverseSbox, in + offset, out + offset, keys.rows);
}

void setHardwareAesEnabled(bool enabled)
{
    hardwareEnabled = enabled;
}

bool hardwareAesEnabled()
{
    return hardwareEnabled && AesHardware::supported();
}

void setWideAesEnabled(bool enabled)
{
    wideEnabled = enabled;
}

bool wideAesEnabled()
{
    return wideEnabled && hardwareAesEnabled() && AesHardwareWide::supported();
}

} // namespace QuilmAes
