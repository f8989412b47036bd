#pragma once

#include <cstddef>

// AES-128 through the processor's AES instructions (AES-NI on x86). They
// carry the standard S-boxes in silicon, so they stand in for the table
// rounds only for the standard tables.
namespace QuilmAes {
namespace AesHardware {

// Round keys as the instructions read them: 11 for encryption, then 11 for
// the equivalent inverse cipher.
using RoundKeys = unsigned char[22][16];

// Whether this processor has the instructions (and this build the code).
bool supported();

// From the 44 words of the FIPS-197 key schedule.
void prepareKeys(const unsigned int* schedule, RoundKeys& keys);

// `blocks` whole blocks, ECB; `out` may be `in`.
void encode(const RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks);
void decode(const RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks);

} // namespace AesHardware
} // namespace QuilmAes
