// Fast CRC-64 for the emulator (loaded through ctypes), so benchmarks with
// large objects measure the client rather than the emulator's Python loop.
#include "Crc64.h"

#include <cstddef>
#include <cstdint>

extern "C" uint64_t oss_emulator_crc64(uint64_t crc, const void* data, size_t length);

extern "C" uint64_t oss_emulator_crc64(uint64_t crc, const void* data, size_t length)
{
    AlibabaCloud::OSS::Crc64 checksum(crc);
    checksum.update(data, length);
    return checksum.value();
}
