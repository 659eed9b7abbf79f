// The command line of ovixpatch: global options, one command and its
// options, parsed and checked before any job starts.

#ifndef OVIX_CLI_CLI_OPTIONS_H_
#define OVIX_CLI_CLI_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

namespace ovix::cli {

enum class Answer { kAsk, kYes, kNo };

struct CliOptions {
  // Global options.
  std::optional<std::string> home;  // --home DIR
  std::optional<std::string> root;  // --root DIR
  Answer answer = Answer::kAsk;     // --yes / --no

  std::string command;      // "pack", "project", "upload", ...
  std::string switchText;   // the GUI switch of the command, e.g. "-pack"

  // pack, project
  std::string path;
  std::optional<std::string> subdir;
  std::optional<std::string> types;
  std::string user;
  std::optional<std::string> name;
  std::optional<std::string> version;
  std::optional<std::string> date;
  std::optional<std::string> info;  // project only
  std::optional<std::string> sign;  // secret key file of minisign
  bool signPasswordStdin = false;

  // upload, upproject, download, info
  std::string server;
  std::string port;
  bool passwordStdin = false;
  std::optional<std::string> package;  // upload, upproject: instead of the newest
  std::string install;  // download
  std::string project;  // info
  bool listProjects = false;  // info --list
  // verify, sign, manifest: a package file, on this machine only
  std::string packageFile;
  std::string publicKey;     // verify --key
  std::string manifestPath;  // manifest --out ("": PACKAGE.manifest)

  // The version dialog counts as confirmed only with both --name and
  // --version.
  bool versionConfirmed() const { return name.has_value() && version.has_value(); }
};

// Outcome of parsing: go on with the job, or end with `exitCode` (0 after
// --help, 2 after a usage error) once `output` has been printed.
struct ParseResult {
  bool runJob = false;
  int exitCode = 0;
  std::string output;  // help text or the usage error, for standard error
};

ParseResult parseCommandLine(const std::vector<std::string>& args, CliOptions* options);

}  // namespace ovix::cli

#endif  // OVIX_CLI_CLI_OPTIONS_H_
