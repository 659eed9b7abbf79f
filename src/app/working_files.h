// Names of the program's working files, the user folders and new package
// files, all built from moduleBasePath and programDirectory.

#ifndef OVIX_APP_WORKING_FILES_H_
#define OVIX_APP_WORKING_FILES_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

std::string downloadIniPath();   // moduleBasePath + "_download.ini"
std::string uploadIniPath();     // moduleBasePath + "_upload.ini"
std::string packIniPath();       // moduleBasePath + "_pack.ini"
std::string commandLogPath();    // moduleBasePath + ".logfile"
std::string dbLogPath();         // moduleBasePath + ".dblog"
std::string projectInfoPath(const std::string& name);  // programDirectory/NAME.ini

// What the upload and download dialogs remember in their working INI files
// (section "MySqlServer"): the version server, and the installation path of
// a download.
struct RememberedFields {
  std::string address;      // "IP"
  std::string port;         // "PORT"
  std::string installPath;  // "PATH", download only
};
// The fields of `iniPath`; missing values are empty texts.
RememberedFields loadRememberedFields(Env& env, const std::string& iniPath);
// Writes address and port (and the path when `withPath`) into `iniPath`,
// keeping the file's other content.
bool rememberFields(Env& env, const std::string& iniPath, const RememberedFields& fields,
                    bool withPath);

// The secret key file that packages are signed with, as packIniPath()
// names it (section "Signing", key "KEY"; a relative path is taken from
// the program directory); "" when none is named.
std::string configuredSigningKey(Env& env);

// Folder name used for packages packed without a user name.
inline constexpr char kAllUsersFolder[] = "所有用户";

// File-name prefix of a package of `kind` ("config", "dll" or "install",
// any letter case) followed by the local time as "%Y%m%d_%H%M"; "" for any
// other kind or null.
std::string packageNamePrefix(Env& env, char const* kind);

// programDirectory/USER/USER_PREFIX.package for a new package; the user
// folder is created when missing.  An empty user means kAllUsersFolder.
// "" when user or kind is null, or the user is not one folder name (it
// would name a folder outside the program directory).
std::string packagePathFor(Env& env, char const* user, char const* kind);

// Names of the sub-directories of programDirectory, in directory order.
std::vector<std::string> listUserFolders(Env& env);

// Full paths of the files of programDirectory whose names match `pattern`
// (wildcards * and ?, letter case ignored; null or empty means every file).
std::vector<std::string> listProgramFiles(Env& env, char const* pattern);

}  // namespace ovix

#endif  // OVIX_APP_WORKING_FILES_H_
