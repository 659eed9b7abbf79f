#include "platform/system_error.h"

#include "platform/win32_util_windows.h"

namespace ovix {

std::string systemErrorText(int code) { return win32ErrorText(static_cast<DWORD>(code)); }

}  // namespace ovix
