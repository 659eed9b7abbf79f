// Text in the encodings the suite's files come in.  The program works in
// UTF-8; the suite's own Windows tools write their INI files in code page
// 936 (GBK), which is read and written here.

#ifndef OVIX_PLATFORM_TEXT_ENCODING_H_
#define OVIX_PLATFORM_TEXT_ENCODING_H_

#include <string>
#include <string_view>

namespace ovix {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates
// (U+D800..U+DFFF), nothing above U+10FFFF, no sequence cut short and no
// continuation byte without its lead byte.  The empty text is valid.
bool isValidUtf8(std::string_view text);

// Converts code page 936 text to UTF-8 into *out.  False, with *out
// unspecified, when `cp936` holds a byte sequence code page 936 does not
// define.  Bytes below 0x80 are ASCII in both.
bool cp936ToUtf8(std::string_view cp936, std::string* out);

// Converts UTF-8 text to code page 936 into *out.  False, with *out
// unspecified, when `utf8` is not valid UTF-8 or holds a character code
// page 936 lacks; nothing is ever replaced by '?' or a look-alike.
bool utf8ToCp936(std::string_view utf8, std::string* out);

}  // namespace ovix

#endif  // OVIX_PLATFORM_TEXT_ENCODING_H_
