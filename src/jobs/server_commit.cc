#include "jobs/server_commit.h"

#include "app/working_files.h"
#include "package/server_connection.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "platform/presenter.h"
#include "project/project_patch.h"
#include "server/upload.h"

namespace ovix {

ServerAddress loadRememberedServer(Env& env) {
  RememberedFields remembered = loadRememberedFields(env, uploadIniPath());
  return {remembered.address, remembered.port};
}

bool serverCommitOk(Env& env, const std::string& password, const std::string& address,
                    const std::string& port, const std::string& kind,
                    const std::string& namedPackage) {
  // Open from the start, so that it also keeps why the server could not be
  // reached for the administrator check.
  zdcom::OVIXCommandLog commandLog(commandLogPath().c_str(), &env);
  if (!checkAdministrator(address.c_str(), port.c_str(), "system", password.c_str())) {
    zdcom::currentPresenter().showMessage("用户名和密码不对");
    return false;
  }
  std::string packagePath =
      namedPackage.empty() ? findLocalPackage(env, kind.c_str()) : namedPackage;
  if (packagePath.empty()) return false;

  bool done = kind == "CONFIG" ? applyProjectPatch(env, packagePath, address.c_str(), port.c_str())
                               : uploadPackage(env, packagePath, address.c_str(), port.c_str());
  if (!done) return false;
  zdcom::errorMsg("上传完成");
  rememberFields(env, uploadIniPath(), {address, port, ""}, false);
  return true;
}

}  // namespace ovix
