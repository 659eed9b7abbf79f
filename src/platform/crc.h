// CRC-32 of a file's bytes as text.

#ifndef OVIX_PLATFORM_CRC_H_
#define OVIX_PLATFORM_CRC_H_

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace crc {

// zlib's CRC-32 of the file's bytes as 8 upper-case hex digits, read in
// chunks; "" when the file cannot be read.
std::string crc32_file_str(ovix::Env& env, const std::string& path);

// The CRC-32 of `n` bytes continuing from `crc` (0 to start).
uint32_t crc32_update(uint32_t crc, const void* data, size_t n);
// 8 upper-case hex digits.
std::string crc32_text(uint32_t crc);

}  // namespace crc

#endif  // OVIX_PLATFORM_CRC_H_
