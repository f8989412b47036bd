#pragma once

#include "Encryption/AesHardware_p.h"

#include <cstddef>

// AES-128 four blocks an instruction, in 512-bit registers (VAES with
// AVX-512), over the round keys of AesHardware; what is left below sixteen
// blocks goes through AesHardware.
namespace QuilmAes {
namespace AesHardwareWide {

// Whether this processor has the instructions, the system keeps the wide
// registers, and this build has the code.
bool supported();

// As AesHardware::encode and decode.
void encode(const AesHardware::RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks);
void decode(const AesHardware::RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks);

} // namespace AesHardwareWide
} // namespace QuilmAes
