#include "platform/text_encoding.h"

namespace ovix {

bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    // The length of the sequence, and the range its second byte must fall
    // in: the narrower ranges after E0, ED, F0 and F4 are what exclude
    // overlong forms, surrogates and code points above U+10FFFF.
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;  // a continuation byte, C0/C1 (always overlong) or F5..FF
    }
    if (n - i < length) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if (c < 0x80 || c > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace ovix
