#include "jobs/download.h"

#include "app/working_files.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "update/patch_application.h"

namespace ovix {

DownloadFields loadRememberedDownload(Env& env) {
  RememberedFields remembered = loadRememberedFields(env, downloadIniPath());
  return {remembered.installPath, remembered.address, remembered.port};
}

bool downloadDialogOk(Env& env, const DownloadFields& fields) {
  bool applied;
  {
    zdcom::OVIXCommandLog commandLog(commandLogPath().c_str(), &env);
    applied = openPatchStoreAndApply(env, fields.installPath.c_str(), fields.address.c_str(),
                                     fields.port.c_str());
  }
  if (!applied) return false;
  zdcom::errorMsg("下载补丁完成");
  rememberFields(env, downloadIniPath(), {fields.address, fields.port, fields.installPath}, true);
  return true;
}

}  // namespace ovix
