#include "update/process_control.h"

#include <cstring>
#include <string_view>

#include "app/easy_log.h"
#include "app/log_viewer.h"
#include "app/text_lines.h"
#include "platform/messages.h"
#include "platform/presenter.h"
#include "platform/system_error.h"
#include "platform/zeda_system.h"

namespace ovix {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// `name` without a trailing ".exe" in any letter case.
std::string_view withoutExe(std::string_view name) {
  constexpr std::string_view kExe = ".exe";
  if (name.size() > kExe.size() && equalsIgnoringCase(name.substr(name.size() - kExe.size()), kExe))
    name.remove_suffix(kExe.size());
  return name;
}

bool isTerminableName(const std::string& name) {
  for (char const* terminable : kTerminableNames) {
    if (sameProgramName(name, terminable)) return true;
  }
  return false;
}

// Ends the process of a terminable kill-list entry and logs the outcome.
void terminateListed(Env& env, const std::string& entry, int pid) {
  print(runLog, "Prepare kill %s:", entry.c_str());
  if (env.terminateProcess(pid)) {
    print(runLog, "Open And Kill Process  Pid:%d Succeed", pid);
  } else {
    print(runLog, "OpenProcess Pid:%d Fail", pid);
  }
}

}  // namespace

std::vector<std::string> readKillList(Env& env) {
  std::vector<std::string> entries;
  for (const std::string& line : readTextLines(env, ZedaSystem::getFullZedaName(kKillListName))) {
    if (trimText(line, " ").starts_with('#')) continue;
    entries.push_back(withoutLineEnd(line));
  }
  return entries;
}

bool sameProgramName(const std::string& a, const std::string& b) {
  return equalsIgnoringCase(withoutExe(a), withoutExe(b));
}

int findProcessId(Env& env, const std::string& name) {
  std::vector<ProcessInfo> processes;
  if (!env.listProcesses(&processes)) return 0;
  int pid = 0;
  for (const ProcessInfo& process : processes) {
    if (sameProgramName(process.exeName, name)) pid = process.pid;
  }
  return pid;
}

bool stopSuiteProcesses(Env& env) {
  if (!zdcom::currentPresenter().askTopmostYesNo(zedaGetText_callbk(
          "补丁功能需要关闭OVIX相关进程(Ovix登陆程序/Ovix数据库程序/设计平台程序),是否继续执行？"))) {
    return false;
  }
  for (const std::string& entry : readKillList(env)) {
    int pid = findProcessId(env, entry);
    if (pid == 0) {
      print(runLog, "can not find process of name :%s", entry.c_str());
    } else if (isTerminableName(entry)) {
      terminateListed(env, entry, pid);
    } else {
      zdcom::currentPresenter().showTopmostMessage("", "需要手动关闭所有" + entry);
      print(runLog, "exist process of name :%s need manual close", entry.c_str());
      return false;
    }
  }
  return true;
}

void restartDesignProgram(Env& env) {
  int error = 0;
  if (env.spawnProgram(ZedaSystem::getFullZedaName(kDesignProgramName), &error)) {
    print(runLog, "Restart OvixDesign success");
    return;
  }
  zdcom::currentPresenter().showTitledMessage("错误", lastErrorText(error));
  print(runLog, "Restart OvixDesign fail :%d", error);
}

std::string lastErrorText(int errorCode) { return systemErrorText(errorCode); }

}  // namespace ovix
