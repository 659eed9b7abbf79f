#include "app/application.h"

#include "app/easy_log.h"
#include "app/working_files.h"
#include "package/database.h"
#include "package/package_records.h"
#include "platform/modeling.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"

namespace ovix {

std::string runLogPath(Env* env) {
  std::string path = ZedaSystem::getFullZedaName("temp\\autoPatchLog.txt");
  if (canCreateFilesIn(*env, parentPath(path)) ||
      canCreateFilesIn(*env, ZedaSystem::installRoot()))
    return path;
  std::string state = userDirectory(*env, "XDG_STATE_HOME", ".local/state");
  return state.empty() ? path : joinPath(state, "autoPatchLog.txt");
}

void openRunLog(Env* env) {
  std::string path = runLogPath(env);
  runLog = zedalog::EasyLog(path.c_str(), true, env);
}

bool COvixServerCommitApp::InitInstance() {
  registerRecordClasses();
  print(runLog, "Enter update app,checking cmd......");
  ZedaSystem::setProjectDbtype(2);

  std::optional<std::string> home = options_.homeDir;
  if (!home) home = env_->getEnv("OVIX_HOME");
  if (!home || home->empty()) home = defaultHomeDir(*env_, env_->executablePath());
  fillProgramPaths(env_->executablePath(), home);
  ZdDbSystem::set_db_logfile(dbLogPath().c_str(), 0);

  modeling::ZedaSegmentRelationShip relationShip;
  (void)relationShip;

  print(runLog, "%s", options_.commandTail.c_str());
  succeeded_ = dispatch();
  return false;
}

bool COvixServerCommitApp::dispatch() {
  job_ = matchSwitch(options_.commandTail);
  const SwitchEntry* entry = switchEntryFor(job_);
  switch (job_) {
    case Job::kNone:
      return false;
    case Job::kPack:
    case Job::kProject:
      return host_->runLocalPackage(entry->packageKind);
    case Job::kUpload:
    case Job::kUpProject:
      return host_->runServerCommit(entry->packageKind);
    case Job::kDownload:
      return host_->runUpdatePatch();
    case Job::kInfo:
      return host_->runProjectInfo();
    case Job::kCheckUpdate:
      return host_->runCheckUpdate();
  }
  return false;
}

}  // namespace ovix
