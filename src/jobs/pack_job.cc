#include "jobs/pack_job.h"

#include "app/ini_file.h"
#include "app/setup_file.h"
#include "app/working_files.h"
#include "package/package_file.h"
#include "packing/file_selection.h"
#include "packing/package_key.h"
#include "packing/package_writer.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"

namespace ovix {
namespace {

char const* orEmpty(char const* text) { return text != nullptr ? text : ""; }

// Fills the header's version fields from the setup file or the version
// dialog; false when the dialog was cancelled.
bool fillVersion(Env& env, const PackDialogFields& fields, bool project, PackJobUi& ui,
                 OVIXPackageInfo& header) {
  if (!project) {
    if (readSetupFile(env, fields.path, header)) return true;
    zdcom::errorMsg(
        zedaGetText_callbk("安装路径下无ovixsetup.ini文件，请手动输入处理相关信息，需要小心！"));
  }
  VersionInfo info;
  if (!ui.askVersion(project, &info)) return false;
  header.setName(info.name.c_str());
  header.setVer(info.version.c_str());
  header.setVerTime(info.date.c_str());
  header.setKernalTime(info.date.c_str());
  return true;
}

// Reads the target project of a project patch from the information file the
// user chooses; a cancelled choice leaves both fields unset.
void fillTargetProject(Env& env, PackJobUi& ui, OVIXPackageInfo& header) {
  std::string path;
  if (!ui.chooseProjectInfoFile(programDirectory, &path) || path.empty()) return;
  IniFile ini;
  ini.load(env, path);
  if (char const* guid = ini.getValue("PatchProject", "GUID")) header.setProjGuid(guid);
  if (char const* name = ini.getValue("PatchProject", "NAME")) header.setProjId(name);
}

void reportSuccess(const std::string& packagePath, const OVIXPackageInfo& header, bool project) {
  if (project) {
    zdcom::errorMsg(
        "打包完成，项目包信息：\n\t结果文件：%s\n\t软件名称：%s\n\t版本名称：%s\n\t项目名称：%s"
        "\n\t项目GUID：%s",
        packagePath.c_str(), orEmpty(header.name()), orEmpty(header.ver()),
        orEmpty(header.projId()), orEmpty(header.projGuid()));
  } else {
    zdcom::errorMsg(
        "打包完成，包版本信息：\n\t结果文件：%s\n\t软件名称：%s\n\t版本名称：%s\n\t版本日期：%s",
        packagePath.c_str(), orEmpty(header.name()), orEmpty(header.ver()),
        orEmpty(header.verTime()));
  }
}

// True when the user name and the list-file names of the fields stay inside
// the program directory's user folder; otherwise shows which name does not.
bool namesStayInUserFolder(Env& env, const PackDialogFields& fields) {
  if (!fields.user.empty() && !isSingleFileName(fields.user)) {
    zdcom::errorMsg(zedaGetText_callbk("用户名%s不能用作文件夹名，无法打包"), fields.user.c_str());
    return false;
  }
  std::string outside = listFileNameOutsideUserFolder(env, fields.user, fields.subdir, fields.types);
  if (!outside.empty()) {
    zdcom::errorMsg(zedaGetText_callbk("列表文件名%s不在用户文件夹之内，无法打包"), outside.c_str());
    return false;
  }
  return true;
}

// Reads the signing key the fields name into *key; false, with the reason
// shown, when it cannot be read or opened.
// A key the settings name has its password asked for; false, silently,
// when the user cancels that.
bool loadSigningKey(Env& env, const PackDialogFields& fields, PackJobUi& ui,
                    minisign::SecretKey* key) {
  const bool fromSettings = fields.signingKey.empty();
  const std::string path = fromSettings ? configuredSigningKey(env) : fields.signingKey;
  std::string password = fields.signingPassword;
  std::string text;
  std::string error;
  if (!readFileToString(env, path, &text)) {
    error = Env::lastError();
  } else if (fromSettings && minisign::secretKeyIsEncrypted(text) &&
             !ui.askSigningPassword(path, &password)) {
    return false;
  } else if (minisign::parseSecretKey(text, password, key, &error)) {
    return true;
  }
  zdcom::errorMsg(zedaGetText_callbk("签名私钥%s无法使用：%s，没有打包"), path.c_str(),
                  error.c_str());
  return false;
}

}  // namespace

std::string defaultFileTypes(const std::string& kind) {
  return kind == kKindProjectPatch ? "LUA,XML,CSV,INI,DWG" : "DLL,ARX,LUA,XML,CSV,INI";
}

bool packDialogOk(Env& env, const PackDialogFields& fields, const std::string& kind,
                  PackJobUi& ui, std::string* packagePath) {
  const bool project = kind == kKindProjectPatch;
  if (!namesStayInUserFolder(env, fields)) return false;
  minisign::SecretKey signingKey;
  const bool signing = !fields.signingKey.empty() || !configuredSigningKey(env).empty();
  if (signing && !loadSigningKey(env, fields, ui, &signingKey)) return false;
  zdcom::OVIXCommandLog commandLog(commandLogPath().c_str(), &env);

  OVIXPackageInfo header;
  header.setType(kind.c_str());
  if (!fillVersion(env, fields, project, ui, header)) return false;

  std::string packTime = formatLocalTime(env.now(), "%Y-%m-%d-%H-%M");
  header.setPackTime(packTime.c_str());
  std::string key = encodePackageKey(header.name(), header.ver(), header.packTime(), kind.c_str());
  if (key.empty()) {
    zdcom::errorMsg("打包错误，对不上版本信息，无法对包进行编码");
    return false;
  }
  header.setSkey(key.c_str());
  header.setRefTblname(key.c_str());
  header.setGuid(newGuidText().c_str());
  header.setDepend(0);
  header.setForce(1);

  if (project) fillTargetProject(env, ui, header);
  std::string path = packagePathFor(env, fields.user.c_str(), project ? kKindProjectPatch : kKindSoftwarePatch);
  PackFileFilter filter(env, fields.user, fields.subdir, fields.types, project);
  std::string start = filter.hasExclusionList() ? std::string() : fields.subdir;

  if (!writePackageFile(env, header, path, fields.path, start, filter,
                        signing ? &signingKey : nullptr))
    return false;
  reportSuccess(path, header, project);
  if (packagePath != nullptr) *packagePath = path;
  return true;
}

}  // namespace ovix
