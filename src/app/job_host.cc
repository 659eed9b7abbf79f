#include "app/job_host.h"

#include "platform/messages.h"

namespace ovix {

bool reportJobNotAvailable(char const* switchText) {
  zdcom::errorMsg(zedaGetText_callbk("此版本尚未提供该功能：%s"), switchText);
  return false;
}

bool JobHost::runLocalPackage(const std::string& packageKind) {
  return reportJobNotAvailable(packageKind == "CONFIG" ? "-project" : "-pack");
}

bool JobHost::runServerCommit(const std::string& packageKind) {
  return reportJobNotAvailable(packageKind == "CONFIG" ? "-upproject" : "-upload");
}

bool JobHost::runUpdatePatch() { return reportJobNotAvailable("-download"); }

bool JobHost::runProjectInfo() { return reportJobNotAvailable("-info"); }

bool JobHost::runCheckUpdate() { return reportJobNotAvailable("-checkupdate"); }

}  // namespace ovix
