// The project lock: patches of one project's database, from any workstation,
// run one after another.

#ifndef OVIX_PROJECT_PROJECT_LOCK_H_
#define OVIX_PROJECT_PROJECT_LOCK_H_

#include <string>

#include "package/database.h"
#include "platform/env.h"

namespace zdcom {

// Holds the lock of the project whose database `project` is open, for the
// life of the object: a named lock on that database's own connection (a
// server-wide lock of the session on MariaDB, an advisory file lock in the
// embedded store), so it also ends when the connection ends, however the
// process ends.  Waits up to kProjectLockWaitSeconds for a holder to
// finish, trying once a second (the pause taken through `env`), showing the
// wait as progress that the user can cancel.
//
// The lock covers the project as a whole, named by its database, whatever
// address the connection used.  `purpose` says what the holder does to the
// project ("nothing" when it does not say), `holderText` what the holder
// tells others; both become the holder's text that a waiter that gives up
// is shown, where the engine keeps it (the embedded store does; MariaDB
// names the holder's session instead).
class AutoProjectLock {
 public:
  AutoProjectLock(ZdDbDataBase* project, char const* purpose, char const* holderText,
                  ovix::Env& env = *ovix::Env::Default());
  ~AutoProjectLock();
  AutoProjectLock(const AutoProjectLock&) = delete;
  AutoProjectLock& operator=(const AutoProjectLock&) = delete;

  bool locked() const { return locked_; }
  // When not locked: the user's message saying why, naming the project and
  // the holder when the lock was busy.
  const std::string& failure() const { return failure_; }

  // How long a patch waits for the lock.
  static constexpr int kWaitSeconds = 30;

  // The lock name of the project database `database`: the same for every
  // connection to it and at most 64 bytes, as MySQL requires.
  static std::string lockName(const std::string& database);

 private:
  enum class Wait { kLocked, kBusy, kCancelled, kFailed };
  // On kBusy *holder describes the holder.
  Wait waitForLock(ovix::Env& env, const std::string& text, const std::string& database,
                   std::string* holder);

  ZdDbDataBase* project_;
  std::string name_;
  bool locked_ = false;
  std::string failure_;
};

}  // namespace zdcom

#endif  // OVIX_PROJECT_PROJECT_LOCK_H_
