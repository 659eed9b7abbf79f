#include "platform/text_case.h"

#include <windows.h>

namespace ovix {

// The invariant locale's mapping, the same on every workstation.  A
// character outside the basic plane is mapped as its surrogate pair.
char32_t upperCaseOf(char32_t character) {
  wchar_t units[2];
  int count = 1;
  if (character >= 0x10000 && character <= 0x10FFFF) {
    char32_t v = character - 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (v >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(character);
  }
  wchar_t upper[2];
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, units, count, upper, count, nullptr,
                    nullptr, 0) != count)
    return character;
  if (count == 1) return upper[0];
  return 0x10000 + ((static_cast<char32_t>(upper[0]) - 0xD800) << 10) +
         (static_cast<char32_t>(upper[1]) - 0xDC00);
}

}  // namespace ovix
