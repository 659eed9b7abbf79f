// The upload dialog's work: its remembered fields and its OK button.

#ifndef OVIX_JOBS_SERVER_COMMIT_H_
#define OVIX_JOBS_SERVER_COMMIT_H_

#include <string>

#include "platform/env.h"

namespace ovix {

struct ServerAddress {
  std::string address;
  std::string port;
};

// The address and port remembered in the upload settings file; empty texts
// when they are not there.
ServerAddress loadRememberedServer(Env& env);

// The OK handler of the upload dialog: checks the administrator "system",
// finds the newest local package of `kind` and uploads it ("DLL") or
// applies it to the server's projects ("CONFIG").  On success shows
// "上传完成", remembers address and port and returns true (the dialog
// closes); otherwise the reason was shown and the dialog stays open.
// A non-empty `packagePath` names the package to take instead of the
// newest one.
bool serverCommitOk(Env& env, const std::string& password, const std::string& address,
                    const std::string& port, const std::string& kind,
                    const std::string& packagePath = "");

}  // namespace ovix

#endif  // OVIX_JOBS_SERVER_COMMIT_H_
