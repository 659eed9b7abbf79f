#include <errno.h>
#include <iconv.h>

#include "platform/text_encoding.h"

namespace ovix {
namespace {

// The whole of `in` through one iconv conversion, or false at the first
// byte sequence it cannot convert: glibc's iconv stops there (EILSEQ, or
// EINVAL for a sequence cut short) and substitutes nothing unless asked to
// with "//TRANSLIT" or "//IGNORE", which is never done here.
bool convert(const char* to, const char* from, std::string_view in, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* inPtr = const_cast<char*>(in.data());  // iconv's signature; not written
  size_t inLeft = in.size();
  char buffer[4096];
  bool ok = true;
  while (ok && inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out->append(buffer, static_cast<size_t>(outPtr - buffer));
    ok = r != static_cast<size_t>(-1) || errno == E2BIG;
  }
  if (ok) {
    // Ends any shift state; a no-op for these two encodings, done anyway.
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    out->append(buffer, static_cast<size_t>(outPtr - buffer));
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

bool cp936ToUtf8(std::string_view cp936, std::string* out) {
  return convert("UTF-8", "CP936", cp936, out);
}

bool utf8ToCp936(std::string_view utf8, std::string* out) {
  // Checked here so that both platforms refuse the same malformed input,
  // whatever their decoders tolerate.
  if (!isValidUtf8(utf8)) return false;
  return convert("CP936", "UTF-8", utf8, out);
}

}  // namespace ovix
