#include "platform/system_error.h"

#include <cstring>

namespace ovix {

std::string systemErrorText(int code) { return std::strerror(code); }

}  // namespace ovix
