// The jobs as the command line runs them: from the parsed options instead of
// dialog fields.

#ifndef OVIX_CLI_CLI_JOB_HOST_H_
#define OVIX_CLI_CLI_JOB_HOST_H_

#include "app/job_host.h"
#include "cli/cli_options.h"
#include "platform/env.h"

namespace ovix::cli {

class CliJobHost final : public JobHost {
 public:
  CliJobHost(Env* env, const CliOptions& options) : env_(env), options_(options) {}

  bool runLocalPackage(const std::string& packageKind) override;
  bool runServerCommit(const std::string& packageKind) override;
  bool runCheckUpdate() override;
  bool runUpdatePatch() override;
  // --project writes the information file; --list prints the project names
  // to standard output instead.
  bool runProjectInfo() override;

 private:
  Env* env_;
  const CliOptions& options_;
};

// The signing key's password: the first line of standard input with
// --sign-password-stdin, else $OVIX_SIGN_PASSWORD, else none (a key made
// without a password).  False, with the reason shown, for a line too long.
bool readSigningPassword(Env& env, const CliOptions& options, std::string* password);

}  // namespace ovix::cli

#endif  // OVIX_CLI_CLI_JOB_HOST_H_
