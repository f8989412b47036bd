#include "Crc64.h"

#include <cstring>

namespace AlibabaCloud {
namespace OSS {

namespace {

constexpr uint64_t kPolynomial = 0xC96C5795D7870F42ULL; // reflected ECMA-182

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

}

void Crc64::update(const void* data, size_t length)
{
    const Tables& tb = tables();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint64_t crc = state_;
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
    state_ = crc;
}

}
}
