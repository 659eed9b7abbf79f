#include "platform/zeda_system.h"

#include <algorithm>
#include <optional>

#include "platform/path_text.h"

namespace {

std::optional<std::string>& rootSetting() {
  static std::optional<std::string> root;
  return root;
}

int& projectDbtype() {
  static int type = 0;
  return type;
}

}  // namespace

std::string ZedaSystem::resolveInstallRoot(ovix::Env& env) {
  if (std::optional<std::string> root = env.getEnv("OVIX_ROOT"); root && !root->empty())
    return *root;
  std::string exeDir = ovix::parentPath(env.executablePath());
  std::string binDir = ovix::parentPath(exeDir);
  if (!binDir.empty() && ovix::baseName(binDir) == "bin") return ovix::parentPath(binDir);
  return exeDir;
}

void ZedaSystem::setInstallRoot(std::string root) { rootSetting() = std::move(root); }

const std::string& ZedaSystem::installRoot() {
  if (!rootSetting()) rootSetting() = resolveInstallRoot(*ovix::Env::Default());
  return *rootSetting();
}

std::string ZedaSystem::getFullZedaName(char const* name) {
  std::string relative = ovix::keyToNativePath(name != nullptr ? name : "");
  return ovix::joinPath(installRoot(), relative);
}

void ZedaSystem::setProjectDbtype(int type) { projectDbtype() = type; }

int ZedaSystem::getProjectDbtype() { return projectDbtype(); }
