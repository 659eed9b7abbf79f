#include "app/working_files.h"

#include <strings.h>

#include "app/ini_file.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"

namespace ovix {

std::string downloadIniPath() { return moduleBasePath + "_download.ini"; }
std::string uploadIniPath() { return moduleBasePath + "_upload.ini"; }
std::string packIniPath() { return moduleBasePath + "_pack.ini"; }
std::string commandLogPath() { return moduleBasePath + ".logfile"; }
std::string dbLogPath() { return moduleBasePath + ".dblog"; }

std::string projectInfoPath(const std::string& name) {
  return programDirectory + "/" + name + ".ini";
}

std::string configuredSigningKey(Env& env) {
  IniFile ini;
  if (!env.fileExists(packIniPath()) || !ini.load(env, packIniPath())) return {};
  char const* key = ini.getValue("Signing", "KEY");
  if (key == nullptr || *key == '\0') return {};
  return isAbsolutePath(key) ? std::string(key) : joinPath(programDirectory, key);
}

std::string packageNamePrefix(Env& env, char const* kind) {
  if (kind == nullptr) return {};
  char const* prefix = nullptr;
  if (strcasecmp(kind, "config") == 0) {
    prefix = "项目补丁数据包_";
  } else if (strcasecmp(kind, "dll") == 0) {
    prefix = "软件补丁数据包_";
  } else if (strcasecmp(kind, "install") == 0) {
    prefix = "软件安装数据包_";
  } else {
    return {};
  }
  return prefix + formatLocalTime(env.now(), "%Y%m%d_%H%M");
}

std::string packagePathFor(Env& env, char const* user, char const* kind) {
  if (user == nullptr || kind == nullptr) return {};
  if (*user != '\0' && !isSingleFileName(user)) return {};
  std::string name = *user != '\0' ? user : kAllUsersFolder;
  std::string folder = programDirectory + "/" + name;
  env.createDir(folder);  // an existing folder is fine; failures show on open
  return folder + "/" + name + "_" + packageNamePrefix(env, kind) + ".package";
}

std::vector<std::string> listUserFolders(Env& env) {
  std::vector<std::string> names;
  std::vector<DirEntry> entries;
  if (!env.listDirectory(programDirectory, &entries)) return names;
  for (const DirEntry& e : entries) {
    if (e.isDirectory) names.push_back(e.name);
  }
  return names;
}

std::vector<std::string> listProgramFiles(Env& env, char const* pattern) {
  std::string glob = (pattern == nullptr || *pattern == '\0') ? "*" : pattern;
  if (glob == "*.*") glob = "*";  // as on Windows: every name, dotted or not
  std::vector<std::string> paths;
  std::vector<DirEntry> entries;
  if (!env.listDirectory(programDirectory, &entries)) return paths;
  for (const DirEntry& e : entries) {
    if (!e.isFile) continue;
    if (matchesWildcard(glob, e.name))
      paths.push_back(programDirectory + "/" + e.name);
  }
  return paths;
}

namespace {
constexpr char kRememberedSection[] = "MySqlServer";
}  // namespace

RememberedFields loadRememberedFields(Env& env, const std::string& iniPath) {
  IniFile ini;
  ini.load(env, iniPath);
  RememberedFields fields;
  if (char const* ip = ini.getValue(kRememberedSection, "IP")) fields.address = ip;
  if (char const* port = ini.getValue(kRememberedSection, "PORT")) fields.port = port;
  if (char const* path = ini.getValue(kRememberedSection, "PATH")) fields.installPath = path;
  return fields;
}

bool rememberFields(Env& env, const std::string& iniPath, const RememberedFields& fields,
                    bool withPath) {
  IniFile ini;
  ini.load(env, iniPath);
  ini.setValue(kRememberedSection, "IP", fields.address.c_str());
  ini.setValue(kRememberedSection, "PORT", fields.port.c_str());
  if (withPath) ini.setValue(kRememberedSection, "PATH", fields.installPath.c_str());
  return ini.save(env, iniPath);
}

}  // namespace ovix
