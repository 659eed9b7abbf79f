// Settings shared by the whole suite: where the installation lies and which
// database type server databases use.

#ifndef OVIX_PLATFORM_ZEDA_SYSTEM_H_
#define OVIX_PLATFORM_ZEDA_SYSTEM_H_

#include <string>

#include "platform/env.h"

class ZedaSystem {
 public:
  // Full path of an installation-relative name such as "temp\autoPatchLog.txt";
  // backslashes become '/'.  Uses the root from setInstallRoot, else the one
  // resolveInstallRoot finds for the running program.
  static std::string getFullZedaName(char const* name);

  // The installation root: $OVIX_ROOT when set; else the directory two levels
  // above the program when it lies in <root>/bin/<dir>/; else the program's
  // own directory.  Empty when the program's path is unknown.
  static std::string resolveInstallRoot(ovix::Env& env);

  static void setInstallRoot(std::string root);
  static const std::string& installRoot();

  // Database type of server databases (2 once start-up has set it).
  static void setProjectDbtype(int type);
  static int getProjectDbtype();
};

#endif  // OVIX_PLATFORM_ZEDA_SYSTEM_H_
