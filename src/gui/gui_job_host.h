// The jobs as the dialog program runs them: each one a modal dialog, or the
// check-update run without one.

#ifndef OVIX_GUI_GUI_JOB_HOST_H_
#define OVIX_GUI_GUI_JOB_HOST_H_

#include "app/job_host.h"
#include "platform/env.h"

class GuiJobHost final : public ovix::JobHost {
 public:
  explicit GuiJobHost(ovix::Env* env) : env_(env) {}

  // The pack dialog for "DLL" or "CONFIG"; true when it closed on OK.
  bool runLocalPackage(const std::string& packageKind) override;
  // The upload dialog for "DLL" or "CONFIG"; true when it closed on OK.
  bool runServerCommit(const std::string& packageKind) override;
  // The download dialog; true when it closed on OK.
  bool runUpdatePatch() override;
  // The project information dialog; true when it closed on OK.
  bool runProjectInfo() override;
  // The check-update run, without a dialog.
  bool runCheckUpdate() override;

 private:
  ovix::Env* env_;
};

#endif  // OVIX_GUI_GUI_JOB_HOST_H_
