// One run per installation: a download or check-update holds this lock on
// the installation while it decides what to apply, writes the files and
// records the patch in the setup file.

#ifndef OVIX_UPDATE_INSTALLATION_LOCK_H_
#define OVIX_UPDATE_INSTALLATION_LOCK_H_

#include <memory>
#include <string>

#include "platform/env.h"

namespace ovix {

// The lock file at the top of an installation.
inline constexpr char kInstallationLockFile[] = ".ovixpatch.lock";
// How long a run waits for another run on the same installation.
inline constexpr int kInstallationLockWaitSeconds = 60;

class InstallationLock {
 public:
  // Takes the lock of the installation `tree` (named `installDir` in
  // messages), waiting up to `waitSeconds` for another run to end and
  // showing the wait as progress that the user can cancel.
  InstallationLock(Env& env, DirectoryTree& tree, const std::string& installDir, int waitSeconds);

  bool locked() const { return lock_ != nullptr; }
  // When not locked: the user's message saying why.
  const std::string& failure() const { return failure_; }

 private:
  std::unique_ptr<TreeLock> lock_;
  std::string failure_;
};

}  // namespace ovix

#endif  // OVIX_UPDATE_INSTALLATION_LOCK_H_
