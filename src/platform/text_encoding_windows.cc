#include <windows.h>

#include <climits>

#include "platform/text_encoding.h"
#include "platform/utf16_windows.h"

namespace ovix {
namespace {

constexpr UINT kCodePage936 = 936;

}  // namespace

bool cp936ToUtf8(std::string_view cp936, std::string* out) {
  out->clear();
  if (cp936.empty()) return true;
  if (cp936.size() > INT_MAX) return false;
  const int length = static_cast<int>(cp936.size());
  // MB_ERR_INVALID_CHARS makes an undefined sequence fail the call instead
  // of becoming U+FFFD or the code page's default character.
  int n = MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, cp936.data(), length,
                              nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, cp936.data(), length,
                          wide.data(), n) != n)
    return false;
  *out = narrow(wide);
  return true;
}

bool utf8ToCp936(std::string_view utf8, std::string* out) {
  out->clear();
  // widen() would turn malformed input into U+FFFD; refused before that.
  if (!isValidUtf8(utf8)) return false;
  if (utf8.empty()) return true;
  const std::wstring wide = widen(utf8);
  if (wide.size() > INT_MAX) return false;
  const int length = static_cast<int>(wide.size());
  // WC_NO_BEST_FIT_CHARS stops look-alikes (e.g. 'a' for U+00E0 in some
  // code pages); a character without its own code then becomes the
  // default character, which usedDefault reports.
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr,
                              0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out->resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide.data(), length, out->data(),
                          n, nullptr, &usedDefault) != n ||
      usedDefault)
    return false;
  return true;
}

}  // namespace ovix
