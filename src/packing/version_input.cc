#include "packing/version_input.h"

#include "platform/messages.h"
#include "platform/time_string.h"

namespace ovix {

const std::vector<std::string>& versionDialogNames() {
  static const std::vector<std::string> names = {"OVIX_TARNO", "OVIX_VEL", "OVIX_MORBIX",
                                                 "OVIX_KESTRIL"};
  return names;
}

const std::vector<std::string>& versionDialogVersions() {
  static const std::vector<std::string> versions = {"V3", "V2", "V1"};
  return versions;
}

bool versionDialogOk(const std::string& name, const std::string& version,
                     const std::string& date, bool projectMode, VersionInfo* info) {
  std::string stored;
  if (!(date.empty() && projectMode)) {
    int64_t seconds = parseTimeString(date.c_str());
    if (seconds != -1) stored = formatLocalTime(static_cast<std::time_t>(seconds), "%Y-%m-%d-%H-%M");
    if (seconds == -1 || stored.size() != 16) {
      zdcom::errorMsg(zedaGetText_callbk("日期格式有错，要求为YYYY-MM-DD的格式"));
      return false;
    }
  }
  info->name = name;
  info->version = version;
  info->date = stored;
  return true;
}

}  // namespace ovix
