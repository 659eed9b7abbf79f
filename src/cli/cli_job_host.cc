#include "cli/cli_job_host.h"

#include <cstdio>
#include <string>

#include "app/ini_file.h"
#include "app/setup_file.h"
#include "jobs/check_update.h"
#include "jobs/download.h"
#include "jobs/pack_job.h"
#include "jobs/project_info_job.h"
#include "jobs/server_commit.h"
#include "packing/file_selection.h"
#include "platform/console_text.h"
#include "platform/messages.h"
#include "platform/presenter.h"
#include "project/project_info.h"
#include "server/upload.h"

namespace ovix::cli {
namespace {

// The pack job's dialogs answered from the options: the version dialog is
// confirmed with --name and --version (its date check still applies), the
// file-open dialog with --info.
class OptionsPackUi final : public PackJobUi {
 public:
  OptionsPackUi(const CliOptions& options, Env& env) : options_(options), env_(env) {}

  bool askVersion(bool projectMode, VersionInfo* info) override {
    if (!options_.versionConfirmed()) {
      // The dialog would open here: a project package always asks, an
      // installation without a complete ovixsetup.ini too.
      zdcom::currentPresenter().showMessage(
          "ovixpatch: the package's version is not known; the version dialog needs --name NAME "
          "and --version VER (--date DATE optional)");
      return false;
    }
    return versionDialogOk(*options_.name, *options_.version, options_.date.value_or(""),
                           projectMode, info);
  }

  bool chooseProjectInfoFile(const std::string&, std::string* path) override {
    if (!options_.info) return false;
    *path = *options_.info;
    return true;
  }

  // No box on a terminal: the password of a key the settings name comes
  // from OVIX_SIGN_PASSWORD.
  bool askSigningPassword(const std::string& keyPath, std::string* password) override {
    std::optional<std::string> fromEnv = env_.getEnv("OVIX_SIGN_PASSWORD");
    if (fromEnv) {
      *password = *fromEnv;
      return true;
    }
    zdcom::currentPresenter().showMessage(
        "ovixpatch: the signing key " + keyPath +
        " that the working folder's settings name needs its password in OVIX_SIGN_PASSWORD");
    return false;
  }

 private:
  const CliOptions& options_;
  Env& env_;
};

// Longest administrator password read from standard input.
constexpr size_t kMaxStdinPassword = 4096;

// Reads the first line of `in` without its line end into *line.  False,
// with *tooLong set, when the line is longer than kMaxStdinPassword bytes:
// a password is refused whole rather than cut.
bool readFirstLine(std::FILE* in, std::string* line, bool* tooLong) {
  line->clear();
  *tooLong = false;
  int c;
  bool any = false;
  while ((c = std::getc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() == kMaxStdinPassword) {
      *tooLong = true;
      return false;
    }
    line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

// The administrator password: the first line of standard input with
// --password-stdin, else $OVIX_ADMIN_PASSWORD.  Never from the command line.
// False, with the reason shown, when there is none.
bool readAdministratorPassword(Env& env, const CliOptions& options, std::string* password) {
  zdcom::Presenter& presenter = zdcom::currentPresenter();
  if (options.passwordStdin) {
    bool tooLong = false;
    if (readFirstLine(stdin, password, &tooLong)) return true;
    presenter.showMessage(
        tooLong ? zdcom::format("ovixpatch: the password on standard input is longer than %zu "
                                "bytes; it is refused, not cut",
                                kMaxStdinPassword)
                : "ovixpatch: no administrator password: standard input is empty");
    return false;
  }
  std::optional<std::string> fromEnv = env.getEnv("OVIX_ADMIN_PASSWORD");
  if (!fromEnv) {
    presenter.showMessage(
        "ovixpatch: no administrator password: set OVIX_ADMIN_PASSWORD or pass it on the first "
        "line of standard input with --password-stdin");
    return false;
  }
  *password = *fromEnv;
  return true;
}

// True when --info names a project information file that names a project;
// otherwise says what is wrong with it.
bool checkProjectInfoFile(Env& env, const std::string& path) {
  IniFile ini;
  std::string problem;
  if (!env.fileExists(path) || env.isDirectory(path) || !ini.load(env, path)) {
    problem = "cannot be read";
  } else if (ini.getValue("PatchProject", "GUID") == nullptr ||
             ini.getValue("PatchProject", "NAME") == nullptr) {
    problem = "has no GUID and NAME in section [PatchProject]";
  } else {
    return true;
  }
  zdcom::currentPresenter().showMessage("ovixpatch: the project information file " + path + " " +
                                        problem);
  return false;
}

// True when `dir` is an installation: a directory that holds ovixsetup.ini.
// A mistyped folder is refused rather than filled with a fresh copy.
bool checkInstallationFolder(Env& env, const std::string& dir) {
  std::string problem;
  if (dir.empty()) {
    problem = "--install names no directory";
  } else if (!env.isDirectory(dir)) {
    problem = "the installation directory " + dir + " does not exist";
  } else if (!env.fileExists(setupFilePath(dir))) {
    problem = dir + " holds no ovixsetup.ini, so it is not an installation";
  } else {
    return true;
  }
  zdcom::currentPresenter().showMessage("ovixpatch: " + problem + "; nothing was downloaded");
  return false;
}

}  // namespace

bool readSigningPassword(Env& env, const CliOptions& options, std::string* password) {
  if (!options.signPasswordStdin) {
    *password = env.getEnv("OVIX_SIGN_PASSWORD").value_or("");
    return true;
  }
  bool tooLong = false;
  if (readFirstLine(stdin, password, &tooLong) || !tooLong) return true;
  zdcom::currentPresenter().showMessage(zdcom::format(
      "ovixpatch: the signing password on standard input is longer than %zu bytes; it is "
      "refused, not cut",
      kMaxStdinPassword));
  return false;
}

bool CliJobHost::runServerCommit(const std::string& packageKind) {
  std::string password;
  if (options_.package && !isPackageOfKind(*env_, *options_.package, packageKind.c_str())) {
    zdcom::currentPresenter().showMessage("ovixpatch: " + *options_.package +
                                          " is not a package file of type " + packageKind);
    return false;
  }
  if (!readAdministratorPassword(*env_, options_, &password)) return false;
  return serverCommitOk(*env_, password, options_.server, options_.port, packageKind,
                        options_.package.value_or(""));
}

bool CliJobHost::runUpdatePatch() {
  if (!checkInstallationFolder(*env_, options_.install)) return false;
  return downloadDialogOk(*env_, {options_.install, options_.server, options_.port});
}

bool CliJobHost::runLocalPackage(const std::string& packageKind) {
  PackDialogFields fields;
  fields.user = options_.user;
  fields.path = options_.path;
  fields.subdir = options_.subdir.value_or("");
  fields.types = options_.types.value_or(defaultFileTypes(packageKind));
  if (packageKind == kKindProjectPatch && options_.info && !checkProjectInfoFile(*env_, *options_.info))
    return false;
  if (options_.sign) {
    fields.signingKey = *options_.sign;
    if (!readSigningPassword(*env_, options_, &fields.signingPassword)) return false;
  }
  OptionsPackUi ui(options_, *env_);
  std::string packagePath;
  if (!packDialogOk(*env_, fields, packageKind, ui, &packagePath)) return false;
  // The path alone on standard output, for a pipeline's next step.
  writeText(stdout, packagePath + "\n");
  std::fflush(stdout);
  return true;
}

bool CliJobHost::runProjectInfo() {
  if (!options_.listProjects) return projectInfoOk(*env_, options_.server, options_.port, options_.project);
  std::vector<std::string> names;
  std::string error;
  if (!listProjects(options_.server.c_str(), options_.port.c_str(), &names, &error)) {
    zdcom::errorMsg(zedaGetText_callbk("查询服务器上的项目库列表失败：ip:%s,port:%s"),
                    options_.server.c_str(), options_.port.c_str());
    zdcom::noteMsg("%s", error.c_str());
    return false;
  }
  for (const std::string& name : names) writeText(stdout, name + "\n");
  return true;
}

bool CliJobHost::runCheckUpdate() { return ovix::runCheckUpdate(*env_); }

}  // namespace ovix::cli
