#include "platform/text_case.h"

#include <locale.h>
#include <wctype.h>

namespace ovix {
namespace {

// The C.UTF-8 tables, whatever locale the program runs in.
locale_t utf8Locale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

char32_t upperCaseOf(char32_t character) {
  locale_t locale = utf8Locale();
  if (locale == static_cast<locale_t>(0)) return character;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(character), locale));
}

}  // namespace ovix
