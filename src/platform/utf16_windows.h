// UTF-8 inside, UTF-16 at the Windows boundary.  Windows only.

#ifndef OVIX_PLATFORM_UTF16_WINDOWS_H_
#define OVIX_PLATFORM_UTF16_WINDOWS_H_

#include <string>
#include <string_view>

namespace ovix {

// The UTF-16 form of a UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::wstring widen(std::string_view utf8);
// The UTF-8 form of a UTF-16 text; a lone surrogate becomes U+FFFD.
std::string narrow(std::wstring_view utf16);

}  // namespace ovix

#endif  // OVIX_PLATFORM_UTF16_WINDOWS_H_
