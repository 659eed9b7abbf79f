// Letter case of Unicode characters, from the system's tables.

#ifndef OVIX_PLATFORM_TEXT_CASE_H_
#define OVIX_PLATFORM_TEXT_CASE_H_

namespace ovix {

// The upper-case form of one character, the character itself when it has
// none (or when the system's tables are not available).
char32_t upperCaseOf(char32_t character);

}  // namespace ovix

#endif  // OVIX_PLATFORM_TEXT_CASE_H_
