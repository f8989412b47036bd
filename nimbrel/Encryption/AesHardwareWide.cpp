#include "Encryption/AesHardwareWide_p.h"

// Built with the instruction set switched on for this file alone (see the
// CMake file); nothing here runs unless supported() said yes.
#if defined(__x86_64__) && defined(__VAES__) && defined(__AVX512F__)

#include <cpuid.h>
#include <immintrin.h>

namespace QuilmAes {
namespace AesHardwareWide {

namespace {

// Four registers of four blocks: as with the narrow instructions, several
// blocks in flight hide each instruction's latency.
constexpr std::size_t registers = 4;
constexpr std::size_t blocksPerRegister = 4;
constexpr std::size_t blocksPerStep = registers * blocksPerRegister;

struct Schedule
{
    // Each round key in all four lanes of its register. (The masked form with
    // every lane selected: the plain one trips gcc's uninitialized warning.)
    explicit Schedule(const unsigned char (*roundKeys)[16])
    {
        for (int round = 0; round < 11; ++round)
            key[round] = _mm512_maskz_broadcast_i32x4(
                0xffff, _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundKeys[round])));
    }
    __m512i key[11];
};

template <bool Encode>
std::size_t run(const Schedule& s, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    std::size_t done = 0;
    for (; done + blocksPerStep <= blocks; done += blocksPerStep) {
        __m512i b[registers];
#pragma GCC unroll 4
        for (std::size_t i = 0; i < registers; ++i)
            b[i] = _mm512_xor_si512(_mm512_loadu_si512(in + 16 * (done + blocksPerRegister * i)), s.key[0]);
        for (int round = 1; round < 10; ++round) {
#pragma GCC unroll 4
            for (std::size_t i = 0; i < registers; ++i)
                b[i] = Encode ? _mm512_aesenc_epi128(b[i], s.key[round]) : _mm512_aesdec_epi128(b[i], s.key[round]);
        }
#pragma GCC unroll 4
        for (std::size_t i = 0; i < registers; ++i)
            _mm512_storeu_si512(out + 16 * (done + blocksPerRegister * i),
                                Encode ? _mm512_aesenclast_epi128(b[i], s.key[10])
                                       : _mm512_aesdeclast_epi128(b[i], s.key[10]));
    }
    return done;
}

} // namespace

bool supported()
{
    // The builtin also asks the system whether it saves the wide registers;
    // VAES is read from its CPUID bit, which not every compiler's builtin
    // knows by name.
    static const bool hasInstructions = [] {
        __builtin_cpu_init();
        unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
        const bool vaes = __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ecx & (1u << 9));
        return vaes && __builtin_cpu_supports("avx512f") && AesHardware::supported();
    }();
    return hasInstructions;
}

void encode(const AesHardware::RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    const std::size_t done = run<true>(Schedule(keys), in, out, blocks);
    AesHardware::encode(keys, in + 16 * done, out + 16 * done, blocks - done);
}

void decode(const AesHardware::RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    const std::size_t done = run<false>(Schedule(keys + 11), in, out, blocks);
    AesHardware::decode(keys, in + 16 * done, out + 16 * done, blocks - done);
}

} // namespace AesHardwareWide
} // namespace QuilmAes

#else

namespace QuilmAes {
namespace AesHardwareWide {

// Not built for this processor family or compiler: the narrow instructions
// (or the table rounds) serve.
bool supported()
{
    return false;
}

void encode(const AesHardware::RoundKeys&, const unsigned char*, unsigned char*, std::size_t)
{
}
void decode(const AesHardware::RoundKeys&, const unsigned char*, unsigned char*, std::size_t)
{
}

} // namespace AesHardwareWide
} // namespace QuilmAes

#endif
