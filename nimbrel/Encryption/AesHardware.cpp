#include "Encryption/AesHardware_p.h"

// Built with the instruction set switched on for this file alone (see the
// CMake file); nothing here runs unless supported() said yes.
#if defined(__x86_64__) || defined(__i386__)

#include <wmmintrin.h>

namespace QuilmAes {
namespace AesHardware {

namespace {

// Eight blocks in flight keep the AES units busy: each instruction waits for
// the one before it on the same block.
constexpr std::size_t lanes = 8;

struct Schedule
{
    explicit Schedule(const unsigned char (*roundKeys)[16])
    {
        for (int round = 0; round < 11; ++round)
            key[round] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundKeys[round]));
    }
    __m128i key[11];
};

inline __m128i encodeOne(const Schedule& s, __m128i block)
{
    block = _mm_xor_si128(block, s.key[0]);
    for (int round = 1; round < 10; ++round)
        block = _mm_aesenc_si128(block, s.key[round]);
    return _mm_aesenclast_si128(block, s.key[10]);
}

inline __m128i decodeOne(const Schedule& s, __m128i block)
{
    block = _mm_xor_si128(block, s.key[0]);
    for (int round = 1; round < 10; ++round)
        block = _mm_aesdec_si128(block, s.key[round]);
    return _mm_aesdeclast_si128(block, s.key[10]);
}

inline __m128i load(const unsigned char* bytes)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

inline void store(unsigned char* bytes, __m128i block)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), block);
}

template <bool Encode>
void run(const Schedule& s, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    std::size_t done = 0;
    for (; done + lanes <= blocks; done += lanes) {
        __m128i b[lanes];
#pragma GCC unroll 8
        for (std::size_t i = 0; i < lanes; ++i)
            b[i] = _mm_xor_si128(load(in + 16 * (done + i)), s.key[0]);
        for (int round = 1; round < 10; ++round) {
#pragma GCC unroll 8
            for (std::size_t i = 0; i < lanes; ++i)
                b[i] = Encode ? _mm_aesenc_si128(b[i], s.key[round]) : _mm_aesdec_si128(b[i], s.key[round]);
        }
#pragma GCC unroll 8
        for (std::size_t i = 0; i < lanes; ++i)
            store(out + 16 * (done + i),
                  Encode ? _mm_aesenclast_si128(b[i], s.key[10]) : _mm_aesdeclast_si128(b[i], s.key[10]));
    }
    for (; done < blocks; ++done) {
        const __m128i block = load(in + 16 * done);
        store(out + 16 * done, Encode ? encodeOne(s, block) : decodeOne(s, block));
    }
}

} // namespace

bool supported()
{
    static const bool hasInstructions = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return hasInstructions;
}

void prepareKeys(const unsigned int* schedule, RoundKeys& keys)
{
    // A schedule word holds a key column, its most significant byte first.
    for (int word = 0; word < 44; ++word)
        for (int byte = 0; byte < 4; ++byte)
            keys[word / 4][4 * (word % 4) + byte] = static_cast<unsigned char>(schedule[word] >> (24 - 8 * byte));
    // The equivalent inverse cipher: round keys in reverse, the inner nine
    // passed through InvMixColumns.
    store(keys[11], load(keys[10]));
    for (int round = 1; round < 10; ++round)
        store(keys[11 + round], _mm_aesimc_si128(load(keys[10 - round])));
    store(keys[21], load(keys[0]));
}

void encode(const RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    run<true>(Schedule(keys), in, out, blocks);
}

void decode(const RoundKeys& keys, const unsigned char* in, unsigned char* out, std::size_t blocks)
{
    run<false>(Schedule(keys + 11), in, out, blocks);
}

} // namespace AesHardware
} // namespace QuilmAes

#else

namespace QuilmAes {
namespace AesHardware {

// No such instructions on this processor family yet: the table rounds serve.
bool supported()
{
    return false;
}

void prepareKeys(const unsigned int*, RoundKeys&)
{
}
void encode(const RoundKeys&, const unsigned char*, unsigned char*, std::size_t)
{
}
void decode(const RoundKeys&, const unsigned char*, unsigned char*, std::size_t)
{
}

} // namespace AesHardware
} // namespace QuilmAes

#endif
