// The unattended check-update run: looks for a newer software patch for the
// installation this program belongs to and, only when there is one, stops
// the suite's programs, applies it, offers the run log and starts the
// design program again.  No dialog; messages, questions and the run log.

#ifndef OVIX_JOBS_CHECK_UPDATE_H_
#define OVIX_JOBS_CHECK_UPDATE_H_

#include <string>

#include "platform/env.h"

namespace ovix {

// Installation-relative names of the server address file and the run log
// that the run offers at its end.
inline constexpr char kServerAddressFileName[] = "sys\\MysqlIpPort.ini";
inline constexpr char kServerAddressSection[] = "OvixPatch";
inline constexpr char kCheckUpdateLogName[] = "temp/autoPatchLog.txt";

// The steps the run takes.  The defaults do the real work; tests replace
// them.
class CheckUpdateSteps {
 public:
  virtual ~CheckUpdateSteps() = default;

  // True when the patch store at ip:port holds a newer patch for installDir.
  virtual bool check(Env& env, const std::string& installDir, const std::string& ip,
                     const std::string& port);
  // Applies the newest patch; failures are reported by the step itself.
  virtual bool apply(Env& env, const std::string& installDir, const std::string& ip,
                     const std::string& port);
  // Closes the suite's programs; false when the update must not go on.
  virtual bool stopSuite(Env& env);
  // Starts the design program again.
  virtual void restart(Env& env);
  // Lets the user view the log file `path`.
  virtual void openLog(Env& env, const std::string& path);
};

// Runs the check with `steps`.  Returns true when the run ended normally
// (no patch needed, or the update was carried out), false when the server
// address file lacks the key IP or PORT (logged only; an empty value is
// passed on to the check) or the user or a running program stopped
// the update.  The design program is started again on every path that got
// past stopping the suite.
bool runCheckUpdate(Env& env, CheckUpdateSteps& steps);

// Runs the check with the real steps.
bool runCheckUpdate(Env& env);

}  // namespace ovix

#endif  // OVIX_JOBS_CHECK_UPDATE_H_
