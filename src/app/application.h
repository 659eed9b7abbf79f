// The application object: start-up of the shared services and the run of
// exactly one job chosen by the command line.

#ifndef OVIX_APP_APPLICATION_H_
#define OVIX_APP_APPLICATION_H_

#include <optional>
#include <string>

#include "app/job_host.h"
#include "app/switch_table.h"
#include "platform/env.h"

namespace ovix {

struct StartupOptions {
  std::string commandTail;              // the command line after the program name
  std::optional<std::string> homeDir;   // replaces the program directory
};

class COvixServerCommitApp {
 public:
  COvixServerCommitApp(Env* env, JobHost* host, StartupOptions options)
      : env_(env), host_(host), options_(std::move(options)) {}

  // Starts the shared services, logs the command line, runs the one job the
  // command line names (or none) and returns false, so the program ends.
  bool InitInstance();

  Job job() const { return job_; }
  // True when a job ran and succeeded.
  bool jobSucceeded() const { return succeeded_; }

 private:
  bool dispatch();

  Env* env_;
  JobHost* host_;
  StartupOptions options_;
  Job job_ = Job::kNone;
  bool succeeded_ = false;
};

// The run log: "temp\autoPatchLog.txt" below the installation root; when
// neither that folder nor the root takes new files (an installation owned by
// another user), "autoPatchLog.txt" in the user's state directory
// ($XDG_STATE_HOME/ovix, ~/.local/state/ovix), created when missing.
std::string runLogPath(Env* env);

// Opens the run log at runLogPath, to be emptied by its first line.
void openRunLog(Env* env);

}  // namespace ovix

#endif  // OVIX_APP_APPLICATION_H_
