// The version dialog's values and the check its OK button makes.

#ifndef OVIX_PACKING_VERSION_INPUT_H_
#define OVIX_PACKING_VERSION_INPUT_H_

#include <string>
#include <vector>

namespace ovix {

struct VersionInfo {
  std::string name;     // software name
  std::string version;  // version name
  std::string date;     // "%Y-%m-%d-%H-%M", or empty in project mode
};

// Entries of the dialog's two combo boxes, in their order.
const std::vector<std::string>& versionDialogNames();
const std::vector<std::string>& versionDialogVersions();

// The OK handler of the version dialog: stores name and version, and the
// date reformatted as "%Y-%m-%d-%H-%M".  In project mode an empty date
// stays empty.  A date that does not give a valid time of exactly that form
// shows "日期格式有错，要求为YYYY-MM-DD的格式" and returns false (the
// dialog stays open; *info is then unchanged).  True when the dialog closes.
bool versionDialogOk(const std::string& name, const std::string& version,
                     const std::string& date, bool projectMode, VersionInfo* info);

}  // namespace ovix

#endif  // OVIX_PACKING_VERSION_INPUT_H_
