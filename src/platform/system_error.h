// The operating system's own words for its error codes.

#ifndef OVIX_PLATFORM_SYSTEM_ERROR_H_
#define OVIX_PLATFORM_SYSTEM_ERROR_H_

#include <string>

namespace ovix {

// The system's text for an error code as Env calls report it (an errno
// value on Linux, a GetLastError() value on Windows).
std::string systemErrorText(int code);

}  // namespace ovix

#endif  // OVIX_PLATFORM_SYSTEM_ERROR_H_
