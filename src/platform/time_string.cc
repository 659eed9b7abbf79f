#include "platform/time_string.h"

#include <cstring>

namespace ovix {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal number of text[0..length), stopping at a NUL.
int leadingNumber(char const* text, size_t length) {
  int value = 0;
  for (size_t i = 0; i < length && isDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

int64_t parseTimeString(char const* text) {
  if (text == nullptr || std::strlen(text) < 4) return 0;

  std::tm fields{};
  fields.tm_year = leadingNumber(text, 4) - 1900;
  fields.tm_mon = 0;
  fields.tm_mday = 1;
  fields.tm_isdst = -1;

  int* const later[] = {&fields.tm_mon, &fields.tm_mday, &fields.tm_hour, &fields.tm_min,
                        &fields.tm_sec};
  char const* p = text + 4;
  for (int i = 0; i < 5; ++i) {
    while (*p != '\0' && !isDigit(*p)) ++p;
    if (*p == '\0') break;
    int value = leadingNumber(p, 2);
    *later[i] = (i == 0) ? value - 1 : value;  // tm_mon counts from 0
    p += (p[1] == '\0') ? 1 : 2;
  }

  std::time_t seconds = std::mktime(&fields);
  if (seconds == static_cast<std::time_t>(-1)) return -1;
  return static_cast<int64_t>(seconds);
}

bool toLocalTime(std::time_t when, std::tm* local) {
#ifdef _WIN32
  return localtime_s(local, &when) == 0;
#else
  return localtime_r(&when, local) != nullptr;
#endif
}

std::string formatLocalTime(std::time_t when, char const* format) {
  std::tm local{};
  if (!toLocalTime(when, &local)) return {};
  char buf[256];
  size_t n = std::strftime(buf, sizeof buf, format, &local);
  return std::string(buf, n);
}

}  // namespace ovix
