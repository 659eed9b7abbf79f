#include "win32/project_info_dialog.h"

#include <string>
#include <vector>

#include "jobs/project_info_job.h"
#include "jobs/server_commit.h"
#include "project/project_info.h"
#include "win32/combo_box.h"
#include "win32/resource_ids.h"

namespace ovix::win32 {

COvixProjectInfo::COvixProjectInfo(Env* env) : Dialog(IDD_PROJECT_INFO), env_(env) {}

void COvixProjectInfo::onInit() {
  ServerAddress remembered = loadRememberedServer(*env_);
  if (!remembered.address.empty()) setText(IDC_PROJECT_SERVER, remembered.address);
  if (!remembered.port.empty()) {
    setText(IDC_PROJECT_PORT, remembered.port);
    refillProjects();
  }
}

bool COvixProjectInfo::onCommand(int id, int code) {
  if (code != EN_KILLFOCUS || (id != IDC_PROJECT_SERVER && id != IDC_PROJECT_PORT)) return false;
  refillProjects();
  return true;
}

void COvixProjectInfo::refillProjects() {
  const std::string address = text(IDC_PROJECT_SERVER);
  const std::string port = text(IDC_PROJECT_PORT);
  std::vector<std::string> names;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  listProjects(address.c_str(), port.c_str(), &names);
  SetCursor(previous);
  replaceComboItems(item(IDC_PROJECT_NAME), names);
}

bool COvixProjectInfo::onOk() {
  return projectInfoOk(*env_, text(IDC_PROJECT_SERVER), text(IDC_PROJECT_PORT),
                       text(IDC_PROJECT_NAME));
}

}  // namespace ovix::win32
