// The jobs as the Windows dialog program runs them: each one a modal dialog
// without an owner, or the check-update run without one.

#ifndef OVIX_WIN32_WIN32_JOB_HOST_H_
#define OVIX_WIN32_WIN32_JOB_HOST_H_

#include "app/job_host.h"
#include "platform/env.h"

namespace ovix::win32 {

class Win32JobHost final : public JobHost {
 public:
  explicit Win32JobHost(Env* env) : env_(env) {}

  // Each dialog job is true when its dialog closed on OK.
  bool runLocalPackage(const std::string& packageKind) override;
  bool runServerCommit(const std::string& packageKind) override;
  bool runUpdatePatch() override;
  bool runProjectInfo() override;
  bool runCheckUpdate() override;

 private:
  Env* env_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_WIN32_JOB_HOST_H_
