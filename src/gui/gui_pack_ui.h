// The dialogs the pack job opens, shown over the pack dialog.

#ifndef OVIX_GUI_GUI_PACK_UI_H_
#define OVIX_GUI_GUI_PACK_UI_H_

#include "jobs/pack_job.h"

class QWidget;

class GuiPackUi final : public ovix::PackJobUi {
 public:
  explicit GuiPackUi(QWidget* parent) : parent_(parent) {}

  bool askVersion(bool projectMode, ovix::VersionInfo* info) override;
  bool chooseProjectInfoFile(const std::string& initialDirectory, std::string* path) override;
  bool askSigningPassword(const std::string& keyPath, std::string* password) override;

 private:
  QWidget* parent_;
};

#endif  // OVIX_GUI_GUI_PACK_UI_H_
