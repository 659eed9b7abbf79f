#include "jobs/check_update.h"

#include "app/easy_log.h"
#include "app/ini_file.h"
#include "platform/messages.h"
#include "platform/presenter.h"
#include "platform/zeda_system.h"
#include "update/patch_application.h"
#include "update/process_control.h"

namespace ovix {
namespace {

struct ServerAddress {
  std::string ip;
  std::string port;
  bool complete = false;  // both keys present; an empty value is a value
};

// Reads "IP" and "PORT" of the server address file; a missing file reads
// as an incomplete address.  An empty value is passed on as it is: opening
// the patch store then fails with its own message.
ServerAddress readServerAddress(Env& env) {
  IniFile ini;
  ini.load(env, ZedaSystem::getFullZedaName(kServerAddressFileName));
  char const* ip = ini.getValue(kServerAddressSection, "IP");
  char const* port = ini.getValue(kServerAddressSection, "PORT");
  ServerAddress address;
  address.ip = ip != nullptr ? ip : "";
  address.port = port != nullptr ? port : "";
  address.complete = ip != nullptr && port != nullptr;
  return address;
}

// The part of the run after the suite's programs have been closed: check
// again, apply when still needed, offer the log, restart.
bool updateStoppedSuite(Env& env, CheckUpdateSteps& steps, const std::string& installDir,
                        const ServerAddress& address) {
  if (!steps.check(env, installDir, address.ip, address.port)) {
    zdcom::currentPresenter().showTopmostMessage("Info", "更新结束");
    steps.restart(env);
    return true;
  }
  print(runLog, "\n\n\nCurrent version need to update,prepare download···");
  steps.apply(env, installDir, address.ip, address.port);
  if (zdcom::currentPresenter().askTopmostYesNo(zedaGetText_callbk("更新结束,是否查看日志？"))) {
    steps.openLog(env, ZedaSystem::getFullZedaName(kCheckUpdateLogName));
  }
  steps.restart(env);
  return true;
}

}  // namespace

bool CheckUpdateSteps::check(Env& env, const std::string& installDir, const std::string& ip,
                             const std::string& port) {
  return openPatchStoreAndCheck(env, installDir.c_str(), ip.c_str(), port.c_str());
}

bool CheckUpdateSteps::apply(Env& env, const std::string& installDir, const std::string& ip,
                             const std::string& port) {
  return openPatchStoreAndApply(env, installDir.c_str(), ip.c_str(), port.c_str());
}

bool CheckUpdateSteps::stopSuite(Env& env) { return stopSuiteProcesses(env); }

void CheckUpdateSteps::restart(Env& env) { restartDesignProgram(env); }

void CheckUpdateSteps::openLog(Env& env, const std::string& path) {
  zdcom::currentPresenter().openLog(env, path);
}

bool runCheckUpdate(Env& env, CheckUpdateSteps& steps) {
  ServerAddress address = readServerAddress(env);
  print(runLog, "当前服务器配置:IP %s,PORT %s", address.ip.c_str(), address.port.c_str());
  if (!address.complete) {
    print(runLog, "无法访问更新服务器");
    zdcom::noteMsg("%s: %s has no IP or PORT in section [%s]", zedaGetText_callbk("无法访问更新服务器"),
                   ZedaSystem::getFullZedaName(kServerAddressFileName).c_str(), kServerAddressSection);
    return false;
  }
  std::string installDir = ZedaSystem::getFullZedaName("");
  if (!steps.check(env, installDir, address.ip, address.port)) {
    print(runLog, "First check pass and not excute the second check");
    return true;
  }
  if (!steps.stopSuite(env)) return false;
  return updateStoppedSuite(env, steps, installDir, address);
}

bool runCheckUpdate(Env& env) {
  CheckUpdateSteps steps;
  return runCheckUpdate(env, steps);
}

}  // namespace ovix
