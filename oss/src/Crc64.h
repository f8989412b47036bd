#pragma once

#include <cstddef>
#include <cstdint>

namespace AlibabaCloud {
namespace OSS {

// CRC-64/ECMA-182 as the service reports it in x-oss-hash-crc64ecma
// (reflected, initial and final value all ones).
class Crc64
{
public:
    Crc64() = default;
    // Continues from the CRC of the data before.
    explicit Crc64(uint64_t previous)
        : state_(~previous)
    {
    }

    // Folds with carry-less multiplication where the processor has it and the
    // piece is long enough to repay it, else goes by the tables.
    void update(const void* data, size_t length);
    uint64_t value() const { return ~state_; }

    // The two ways on their own, for tests and the benchmark. The folding
    // way takes pieces under 128 bytes by the tables, and every piece when
    // the processor cannot fold (hasFolding() false).
    static bool hasFolding();
    void updateByTable(const void* data, size_t length);
    void updateByFolding(const void* data, size_t length);

private:
    uint64_t state_ = ~uint64_t(0);
};

} // namespace OSS
} // namespace AlibabaCloud
