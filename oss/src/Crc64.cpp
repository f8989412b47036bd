#include "Crc64.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define OSS_CRC64_FOLDING 1
#endif

namespace AlibabaCloud {
namespace OSS {

namespace {

constexpr uint64_t kPolynomial = 0xC96C5795D7870F42ULL; // reflected ECMA-182

// Below this the set-up of the folding costs more than the tables.
constexpr size_t kFoldingThreshold = 256;

// Slicing by eight: one table per byte position, so eight bytes go per step.
struct Tables
{
    uint64_t t[8][256];

    Tables()
    {
        for (uint64_t i = 0; i < 256; ++i) {
            uint64_t crc = i;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? (crc >> 1) ^ kPolynomial : crc >> 1;
            t[0][i] = crc;
        }
        for (int k = 1; k < 8; ++k)
            for (int i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

uint64_t littleEndianWord(const unsigned char* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
#else
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i)
        word = (word << 8) | p[i];
    return word;
#endif
}

const Tables& tables()
{
    static const Tables instance;
    return instance;
}

uint64_t tableUpdate(uint64_t crc, const unsigned char* p, size_t length)
{
    const Tables& tb = tables();
    while (length >= 8) {
        crc ^= littleEndianWord(p);
        crc = tb.t[7][crc & 0xFF] ^ tb.t[6][(crc >> 8) & 0xFF] ^ tb.t[5][(crc >> 16) & 0xFF]
              ^ tb.t[4][(crc >> 24) & 0xFF] ^ tb.t[3][(crc >> 32) & 0xFF] ^ tb.t[2][(crc >> 40) & 0xFF]
              ^ tb.t[1][(crc >> 48) & 0xFF] ^ tb.t[0][crc >> 56];
        p += 8;
        length -= 8;
    }
    while (length--)
        crc = tb.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#ifdef OSS_CRC64_FOLDING

// x^n mod P in the reflected form, where the top bit stands for x^0 and a
// multiplication by x is the step the tables are built with.
constexpr uint64_t xPowerModP(unsigned n)
{
    uint64_t r = uint64_t(1) << 63;
    for (; n > 0; --n)
        r = (r & 1) ? (r >> 1) ^ kPolynomial : r >> 1;
    return r;
}
static_assert(xPowerModP(64) == kPolynomial, "x^64 mod P is P without its top term");

// Folding: a 16-byte piece X that stands D bits before the end contributes
// X·x^D to the remainder. With X = H·x^64 + L (H its first eight bytes) that
// is congruent mod P to H·(x^(D+64) mod P) + L·(x^D mod P), a product of at
// most 127 bits that can take X's place D bits further on. A carry-less
// multiplication of reflected operands yields the product times x, so the
// constants are one power lower.
struct FoldConstants
{
    // Index n moves a piece ahead by n pieces of 16 bytes.
    uint64_t first[9]; // x^(128n+63) mod P, the factor of H
    uint64_t second[9]; // x^(128n-1) mod P, the factor of L

    constexpr FoldConstants()
        : first()
        , second()
    {
        for (unsigned n = 1; n <= 8; ++n) {
            first[n] = xPowerModP(128 * n + 63);
            second[n] = xPowerModP(128 * n - 1);
        }
    }
};
constexpr FoldConstants kFold;

__attribute__((target("pclmul,sse4.1"))) inline __m128i constantsFor(unsigned pieces)
{
    return _mm_set_epi64x(static_cast<long long>(kFold.second[pieces]), static_cast<long long>(kFold.first[pieces]));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i constants)
{
    // H sits in the low half of a little-endian load, L in the high half.
    return _mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00), _mm_clmulepi64_si128(x, constants, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i load(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// At least 128 bytes. Eight lanes 128 bytes apart keep the multiplier busy.
__attribute__((target("pclmul,sse4.1"))) uint64_t foldingUpdate(uint64_t crc, const unsigned char* p, size_t length)
{
    __m128i lane[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
        lane[i] = load(p + 16 * i);
    // The register counts as added to the first eight bytes, as in the tables.
    lane[0] = _mm_xor_si128(lane[0], _mm_set_epi64x(0, static_cast<long long>(crc)));
    p += 128;
    length -= 128;

    const __m128i byEight = constantsFor(8);
    while (length >= 128) {
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i)
            lane[i] = _mm_xor_si128(fold(lane[i], byEight), load(p + 16 * i));
        p += 128;
        length -= 128;
    }

    __m128i x = lane[7];
#pragma GCC unroll 7
    for (int i = 0; i < 7; ++i)
        x = _mm_xor_si128(x, fold(lane[i], constantsFor(7 - i)));
    const __m128i byOne = constantsFor(1);
    while (length >= 16) {
        x = _mm_xor_si128(fold(x, byOne), load(p));
        p += 16;
        length -= 16;
    }

    // The remainder is a 16-byte message of its own whose register starts at
    // zero; the tables reduce it and go on with the last bytes.
    unsigned char remainder[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(remainder), x);
    return tableUpdate(tableUpdate(0, remainder, sizeof remainder), p, length);
}

#endif

} // namespace

bool Crc64::hasFolding()
{
#ifdef OSS_CRC64_FOLDING
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return supported;
#else
    return false;
#endif
}

void Crc64::update(const void* data, size_t length)
{
    if (length >= kFoldingThreshold && hasFolding())
        updateByFolding(data, length);
    else
        updateByTable(data, length);
}

void Crc64::updateByTable(const void* data, size_t length)
{
    state_ = tableUpdate(state_, static_cast<const unsigned char*>(data), length);
}

void Crc64::updateByFolding(const void* data, size_t length)
{
#ifdef OSS_CRC64_FOLDING
    if (length >= 128 && hasFolding()) {
        state_ = foldingUpdate(state_, static_cast<const unsigned char*>(data), length);
        return;
    }
#endif
    updateByTable(data, length);
}

} // namespace OSS
} // namespace AlibabaCloud
