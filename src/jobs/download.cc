#include "jobs/download.h"

#include "app/ini_file.h"
#include "app/working_files.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "update/patch_application.h"

namespace ovix {

DownloadFields loadRememberedDownload(Env& env) {
  IniFile ini;
  ini.load(env, downloadIniPath());
  DownloadFields fields;
  if (char const* ip = ini.getValue("MySqlServer", "IP")) fields.address = ip;
  if (char const* port = ini.getValue("MySqlServer", "PORT")) fields.port = port;
  if (char const* path = ini.getValue("MySqlServer", "PATH")) fields.installPath = path;
  return fields;
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
  IniFile ini;
  ini.load(env, downloadIniPath());
  ini.setValue("MySqlServer", "IP", fields.address.c_str());
  ini.setValue("MySqlServer", "PORT", fields.port.c_str());
  ini.setValue("MySqlServer", "PATH", fields.installPath.c_str());
  ini.save(env, downloadIniPath());
  return true;
}

}  // namespace ovix
