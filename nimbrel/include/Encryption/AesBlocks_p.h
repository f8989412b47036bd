#pragma once

#include "Encryption/AesHardware_p.h"

#include <cstddef>
#include <cstdint>

// The block loops behind QuilmAes::Aes and the crypt workers: one key
// expanded once, then ECB over caller buffers without allocating.
namespace QuilmAes {

// One key prepared for both paths: the round keys as state rows for the
// table rounds, and as the processor's instructions read them, narrow or wide.
struct AesRoundKeys
{
    std::uint32_t rows[22][4];
    AesHardware::RoundKeys hardware;
    bool useHardware = false;
    bool useWide = false;
};

// FIPS-197 AES-128 key expansion of the first 16 key bytes with the given
// S-box: words 0-43 the schedule, 44-87 its 11 round keys in reverse order.
void expandKey(const unsigned char* key, const unsigned char* sbox, unsigned int* schedule);

// The instructions take over only for the standard S-boxes, which they hold
// built in, and only where the processor has them.
void prepareRoundKeys(const unsigned int* schedule, bool standardTables, AesRoundKeys& keys);

// Both expansion and preparation for the standard tables.
AesRoundKeys standardRoundKeys(const unsigned char* key);

// `length` (a multiple of 16) bytes, block by block; `out` may be `in`.
void encodeBlocks(const AesRoundKeys& keys, const unsigned char* sbox, const unsigned char* in, unsigned char* out,
                  std::size_t length);
void decodeBlocks(const AesRoundKeys& keys, const unsigned char* reverseSbox, const unsigned char* in,
                  unsigned char* out, std::size_t length);

// Tests switch the instructions off to hold the table rounds against them,
// or the wide ones alone to hold them against the narrow ones; keys prepared
// afterwards use what is left on.
void setHardwareAesEnabled(bool enabled);
bool hardwareAesEnabled();
void setWideAesEnabled(bool enabled);
bool wideAesEnabled();

} // namespace QuilmAes
