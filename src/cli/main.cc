// ovixpatch: the command-line front end.  Parses the command, sets up the
// same services as the dialog program and runs the job of the command's
// switch.

#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/easy_log.h"
#include "app/log_viewer.h"
#include "cli/cli_job_host.h"
#include "cli/cli_options.h"
#include "cli/terminal_presenter.h"
#include "package/package_signature.h"
#include "platform/console_text.h"
#include "platform/env.h"
#include "platform/messages.h"
#include "platform/presenter.h"
#include "platform/zeda_system.h"

namespace {

// Creates `path` and the directories above it that are missing.
bool createDirectories(ovix::Env& env, const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    env.createDir(path.substr(0, slash));
  }
  return env.createDir(path) && env.isDirectory(path);
}

// sign: signs the package file with the secret key of --key.
int signPackage(ovix::Env& env, const ovix::cli::CliOptions& options) {
  std::string password;
  std::string keyText;
  std::string why;
  ovix::minisign::SecretKey key;
  if (!ovix::cli::readSigningPassword(env, options, &password)) return 1;
  if (!ovix::readFileToString(env, *options.sign, &keyText)) {
    why = ovix::Env::lastError();
  } else if (ovix::minisign::parseSecretKey(keyText, password, &key, &why) &&
             ovix::signPackageFile(env, options.packageFile, key, &why)) {
    ovix::writeText(stdout, zdcom::format("%s: signed with key %s\n", options.packageFile.c_str(),
                                          ovix::minisign::keyIdText(key.id).c_str()));
    return 0;
  }
  ovix::writeText(stderr, zdcom::format("ovixpatch: %s is not signed: %s\n",
                                        options.packageFile.c_str(), why.c_str()));
  return 1;
}

// verify, sign and manifest: package files on this machine.
int runPackageTool(ovix::Env& env, const ovix::cli::CliOptions& options) {
  std::string why;
  if (options.command == "sign") return signPackage(env, options);
  if (options.command == "verify") {
    if (!ovix::verifyPackageFile(env, options.packageFile, options.publicKey, &why)) {
      ovix::writeText(stderr, zdcom::format("ovixpatch: %s is refused: %s\n",
                                            options.packageFile.c_str(), why.c_str()));
      return 1;
    }
    ovix::writeText(stdout, options.packageFile + ": signature and contents verified\n");
    return 0;
  }
  const std::string out =
      options.manifestPath.empty() ? options.packageFile + ".manifest" : options.manifestPath;
  if (!ovix::exportManifest(env, options.packageFile, out, &why)) {
    ovix::writeText(stderr, "ovixpatch: no manifest written: " + why + "\n");
    return 1;
  }
  ovix::writeText(stdout, out + "\n" + out + ".minisig\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = ovix::programArguments(argc, argv);
  ovix::cli::CliOptions options;
  ovix::cli::ParseResult parsed = ovix::cli::parseCommandLine(args, &options);
  if (!parsed.runJob) {
    ovix::writeText(parsed.exitCode == 0 ? stdout : stderr, parsed.output + "\n");
    return parsed.exitCode;
  }

  ovix::Env* env = ovix::Env::Default();
  if (options.switchText.empty()) return runPackageTool(*env, options);
  // A new working folder is made, so that the job's settings are kept.
  if (options.home && !createDirectories(*env, *options.home)) {
    ovix::writeText(stderr, zdcom::format("ovixpatch: cannot create the --home directory %s: %s\n",
                                          options.home->c_str(), ovix::Env::lastError().c_str()));
    return 2;
  }
  ovix_print_logfile errorOutput(env);
  if (options.root) ZedaSystem::setInstallRoot(*options.root);
  ovix::openRunLog(env);

  ovix::cli::TerminalPresenter presenter(options.answer, stdin, stdout, stderr);
  zdcom::ScopedPresenter presenterGuard(&presenter);
  ovix::cli::CliJobHost host(env, options);
  ovix::COvixServerCommitApp app(env, &host, {options.switchText, options.home});
  app.InitInstance();
  return app.jobSucceeded() ? 0 : 1;
}
