// The dialogs the pack job opens, shown over the pack dialog.

#ifndef OVIX_WIN32_WIN32_PACK_UI_H_
#define OVIX_WIN32_WIN32_PACK_UI_H_

#include <windows.h>

#include "jobs/pack_job.h"

namespace ovix::win32 {

class Win32PackUi final : public PackJobUi {
 public:
  explicit Win32PackUi(HWND owner) : owner_(owner) {}

  // The version dialog.
  bool askVersion(bool projectMode, VersionInfo* info) override;
  // The system's file-open dialog for "*.INI" files.
  bool chooseProjectInfoFile(const std::string& initialDirectory, std::string* path) override;
  // The password dialog.
  bool askSigningPassword(const std::string& keyPath, std::string* password) override;

 private:
  HWND owner_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_WIN32_PACK_UI_H_
