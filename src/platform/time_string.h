// Reading and writing the date and time texts stored in packages and setup
// files.

#ifndef OVIX_PLATFORM_TIME_STRING_H_
#define OVIX_PLATFORM_TIME_STRING_H_

#include <cstdint>
#include <ctime>
#include <string>

namespace ovix {

// Reads a date and time text as local time and returns seconds since
// 1970-01-01 00:00 UTC.
//
// The first four characters are the year.  Then, for month, day, hour,
// minute and second in turn, the next decimal digit and the character after
// it form the field, whose value is the leading number of those two
// characters; once the text ends, the remaining fields keep their defaults
// (month 1, day 1, hour, minute, second 0).  Out-of-range values carry over
// as mktime carries them.
//
// Returns 0 for a null text or one shorter than four characters, and -1 when
// the time cannot be represented.
int64_t parseTimeString(char const* text);

// `format` (strftime) applied to `when` in local time; at most 255 bytes.
std::string formatLocalTime(std::time_t when, char const* format);

// Breaks `when` down in the local time zone; false when it cannot.
bool toLocalTime(std::time_t when, std::tm* local);

}  // namespace ovix

#endif  // OVIX_PLATFORM_TIME_STRING_H_
