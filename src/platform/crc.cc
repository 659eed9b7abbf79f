#include "platform/crc.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace crc {

uint32_t crc32_update(uint32_t crc, const void* data, size_t n) {
  const Bytef* p = static_cast<const Bytef*>(data);
  uLong value = crc;
  while (n > 0) {
    uInt chunk = n > (1u << 30) ? (1u << 30) : static_cast<uInt>(n);
    value = ::crc32(value, p, chunk);
    p += chunk;
    n -= chunk;
  }
  return static_cast<uint32_t>(value);
}

std::string crc32_text(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

std::string crc32_file_str(ovix::Env& env, const std::string& path) {
  std::unique_ptr<ovix::SequentialFile> file;
  if (!env.newSequentialFile(path, &file)) return {};
  std::vector<char> buf(1 << 20);
  uint32_t value = 0;
  for (;;) {
    size_t got = 0;
    if (!file->read(buf.data(), buf.size(), &got)) return {};
    if (got == 0) return crc32_text(value);
    value = crc32_update(value, buf.data(), got);
  }
}

}  // namespace crc
