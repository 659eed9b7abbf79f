#include "package/file_key.h"

#include <cstdio>

namespace ovix {
namespace {

constexpr size_t kPackageKeyLength = 3 + 12;  // codes + "%Y%m%d%H%M"

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Length of the UTF-8 sequence at text[i], 0 when it is not one: overlong
// forms, surrogates and values past U+10FFFF are not UTF-8.
size_t utf8Length(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  size_t n = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  uint32_t value = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc >> 6) != 2) return 0;
    value = (value << 6) | (cc & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return n;
}

// Device names of the home platform: a file called so (with any
// extension) is the device, not a file.
bool isDeviceName(std::string_view component) {
  std::string base;
  for (char c : component.substr(0, component.find('.'))) base += upper(c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

KeyFault checkComponent(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return KeyFault::kOutside;
  if (part.find_first_of("<>\"|?*") != std::string_view::npos || isDeviceName(part) ||
      part.back() == '.' || part.back() == ' ')
    return KeyFault::kReservedName;
  if (part.size() > kMaxKeyComponentBytes) return KeyFault::kNameTooLong;
  return KeyFault::kNone;
}

}  // namespace

KeyFault checkFileKey(std::string_view key) {
  if (key.empty()) return KeyFault::kEmpty;
  for (size_t i = 0; i < key.size();) {
    if (isControl(static_cast<unsigned char>(key[i]))) return KeyFault::kControlCharacter;
    size_t n = utf8Length(key, i);
    if (n == 0) return KeyFault::kInvalidUtf8;
    i += n;
  }
  if (key[0] == '\\' || key[0] == '/') return KeyFault::kOutside;  // absolute or UNC
  if (key.find(':') != std::string_view::npos) return KeyFault::kOutside;  // drive or stream
  size_t start = 0;
  for (;;) {
    size_t end = key.find_first_of("\\/", start);
    KeyFault fault = checkComponent(key.substr(start, end == std::string_view::npos ? end : end - start));
    if (fault != KeyFault::kNone || end == std::string_view::npos) return fault;
    start = end + 1;
  }
}

bool isSafePackageKey(std::string_view key) { return checkFileKey(key) == KeyFault::kNone; }

const char* keyFaultText(KeyFault fault) {
  switch (fault) {
    case KeyFault::kNone:
      return "";
    case KeyFault::kEmpty:
      return "为空";
    case KeyFault::kOutside:
      return "不在安装目录之内";
    case KeyFault::kControlCharacter:
      return "含有控制字符";
    case KeyFault::kInvalidUtf8:
      return "不是有效的文字编码";
    case KeyFault::kReservedName:
      return "含有Windows不允许的字符或名称";
    case KeyFault::kNameTooLong:
      return "中的文件名过长";
  }
  return "";
}

std::string printableKey(std::string_view key) {
  std::string out;
  for (size_t i = 0; i < key.size();) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    size_t n = isControl(c) ? 0 : utf8Length(key, i);
    if (n == 0) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
      ++i;
    } else {
      out.append(key.substr(i, n));
      i += n;
    }
  }
  return out;
}

bool isSingleLineText(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t n = isControl(static_cast<unsigned char>(text[i])) ? 0 : utf8Length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool isCrcText(std::string_view crc) {
  if (crc.size() != 8) return false;
  for (char c : crc) {
    char u = upper(c);
    if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F'))) return false;
  }
  return true;
}

bool sameCrc(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool isPackageKeyText(std::string_view key) {
  if (key.size() != kPackageKeyLength) return false;
  for (char c : key) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace ovix
