#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <filesystem>

namespace ovix::cli {
namespace {

constexpr char kPasswordFooter[] =
    "The administrator password comes from OVIX_ADMIN_PASSWORD or, with\n"
    "--password-stdin, from the first line of standard input (at most 4096 bytes).";

constexpr char kDescription[] =
    "ovixpatch packs installation and project patches, publishes them on the\n"
    "version server and brings installations up to date, without a display.\n"
    "Each command runs the job of the program switch of the same name.\n"
    "The administrator password comes from OVIX_ADMIN_PASSWORD or, with\n"
    "--password-stdin, from the first line of standard input; server accounts\n"
    "and TLS settings come from the MySQL option file named by OVIX_MYSQL_CNF.\n"
    "Working files (settings, user folders, packages) lie beside the program,\n"
    "or in --home DIR or OVIX_HOME; when the program's directory is not\n"
    "writable, in $XDG_DATA_HOME/ovix (default ~/.local/share/ovix).\n"
    "The run log is temp/autoPatchLog.txt below the installation root; when\n"
    "the root is not writable, $XDG_STATE_HOME/ovix/autoPatchLog.txt\n"
    "(default ~/.local/state/ovix/autoPatchLog.txt).\n"
    "Exit status: 0 success, 1 the job failed, 2 usage error.";

// A secret key option and the flag that reads its password from standard
// input (else it comes from OVIX_SIGN_PASSWORD).
CLI::Option* addSigningKeyOption(CLI::App* cmd, const char* name, const std::string& help,
                                 CliOptions* o) {
  CLI::Option* key =
      cmd->add_option(name, o->sign,
                      help + "; its password comes from OVIX_SIGN_PASSWORD or --sign-password-stdin")
          ->type_name("SECRET_KEY");
  cmd->add_flag("--sign-password-stdin", o->signPasswordStdin,
                "Read the secret key's password from the first line of standard input")
      ->needs(key);
  return key;
}

void addPackOptions(CLI::App* cmd, CliOptions* o, bool project) {
  cmd->add_option("--path", o->path, "Directory to pack")->required()->type_name("DIR");
  cmd->add_option("--subdir", o->subdir,
                  "Sub-directory to pack, or an exclusion list name of the user folder");
  cmd->add_option("--types", o->types,
                  "File types to take, or a file list name (default: the dialog's)");
  cmd->add_option("--user", o->user, "User folder for lists and the package (default: all users)");
  CLI::Option* name =
      cmd->add_option("--name", o->name, "Software name when the setup file has none");
  CLI::Option* version =
      cmd->add_option("--version", o->version, "Software version when the setup file has none");
  // The date belongs to the version dialog, which --name and --version answer.
  cmd->add_option("--date", o->date, "Version date, e.g. 2026-12-04")->needs(name)->needs(version);
  if (project)
    cmd->add_option("--info", o->info, "Project information file naming the target project")
        ->type_name("FILE");
  addSigningKeyOption(cmd, "--sign", "Sign the package with this secret key of minisign -G", o);
}

void addServerOptions(CLI::App* cmd, CliOptions* o) {
  cmd->add_option("--server", o->server, "Version server address, or file:DIR")
      ->required()
      ->type_name("ADDR");
  // A text, not a number: an empty port must reach the job's own message.
  cmd->add_option("--port", o->port, "Version server port")->required()->type_name("PORT");
}

struct Command {
  char const* name;
  char const* switchText;
  char const* help;
};
constexpr Command kCommands[] = {
    {"pack", "-pack", "Pack installation files into a software patch package"},
    {"project", "-project", "Pack project configuration files into a project patch package"},
    {"upload", "-upload", "Upload the newest software patch package to the version server"},
    {"upproject", "-upproject", "Apply the newest project patch package to the server's projects"},
    {"download", "-download", "Bring an installation up to date from the version server"},
    {"checkupdate", "-checkupdate", "Update the installation this program belongs to"},
    {"info", "-info", "Write the information file of one server project"},
};

void addGlobalOptions(CLI::App& app, CliOptions* o, bool* yes, bool* no) {
  app.require_subcommand(1, 1);
  app.add_option("--home", o->home, "Directory of the working files (default: the program's)")
      ->type_name("DIR");
  app.add_option("--root", o->root, "Installation root (default: found from the program's place)")
      ->type_name("DIR");
  app.set_version_flag("--version", std::string("ovixpatch ") + OVIX_VERSION,
                       "Print the program's version and exit");
  CLI::Option* yesFlag = app.add_flag("--yes", *yes, "Answer every question with yes");
  CLI::Option* noFlag = app.add_flag("--no", *no, "Answer every question with no");
  yesFlag->excludes(noFlag);
}

void addUploadOptions(CLI::App* cmd, CliOptions* o) {
  cmd->add_flag("--password-stdin", o->passwordStdin,
                "Read the administrator password from the first line of standard input");
  cmd->add_option("--package", o->package,
                  "Package file to take instead of the newest one in the working folder")
      ->type_name("FILE");
  cmd->footer(kPasswordFooter);
}

void addInfoOptions(CLI::App* cmd, CliOptions* o) {
  CLI::Option* project =
      cmd->add_option("--project", o->project, "Project name on the server")->type_name("NAME");
  CLI::Option* list = cmd->add_flag(
      "--list", o->listProjects, "Print the server's project names, one per line, and write no file");
  project->excludes(list);
}

void addCommands(CLI::App& app, CliOptions* o) {
  for (const Command& c : kCommands) {
    CLI::App* cmd = app.add_subcommand(c.name, c.help);
    std::string name = c.name;
    if (name == "pack" || name == "project") addPackOptions(cmd, o, name == "project");
    if (name == "upload" || name == "upproject" || name == "download" || name == "info")
      addServerOptions(cmd, o);
    if (name == "upload" || name == "upproject") addUploadOptions(cmd, o);
    if (name == "download")
      cmd->add_option("--install", o->install, "Installation directory to update")
          ->required()
          ->type_name("DIR");
    if (name == "info") addInfoOptions(cmd, o);
  }
}

// Tools that check a package file on this machine, without a job.
void addPackageTools(CLI::App& app, CliOptions* o) {
  CLI::App* verify = app.add_subcommand(
      "verify", "Check a signed package file against a public key of minisign -G");
  verify->add_option("PACKAGE", o->packageFile, "Package file")->required();
  verify->add_option("--key", o->publicKey, "Public key file")->required()->type_name("PUB");
  CLI::App* sign = app.add_subcommand(
      "sign", "Sign a package file as it is, replacing a signature it had");
  sign->add_option("PACKAGE", o->packageFile, "Package file")->required();
  addSigningKeyOption(sign, "--key", "Secret key file of minisign -G", o)->required();
  CLI::App* manifest = app.add_subcommand(
      "manifest", "Write a signed package's manifest and signature as files for minisign -V");
  manifest->add_option("PACKAGE", o->packageFile, "Package file")->required();
  manifest->add_option("--out", o->manifestPath,
                       "Manifest file to write (default PACKAGE.manifest), its signature beside "
                       "it with .minisig added")
      ->type_name("FILE");
}

ParseResult usageError(const std::string& text) {
  ParseResult result;
  result.exitCode = 2;
  result.output = text + "\nRun with --help for more information.";
  return result;
}

// What CLI11 cannot say: checks across options and of the file system.
// An empty output means the options are fine.
ParseResult checkParsed(CLI::App& app, const CliOptions& o) {
  if (app.got_subcommand("info") && !o.listProjects &&
      app.get_subcommand("info")->count("--project") == 0)
    return usageError("info: --project NAME or --list is required");
  // A root that does not exist would silently put the run log and the
  // server address file elsewhere.
  std::error_code ignored;
  if (o.root && !std::filesystem::is_directory(*o.root, ignored))
    return usageError("--root: the installation root " + *o.root + " is not a directory");
  return {};
}

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args, CliOptions* o) {
  CLI::App app{kDescription, "ovixpatch"};
  // On Windows CLI11 would take an argument such as /pkg/a.package for a
  // /option; the command line reads the same on every system.  The
  // subcommands inherit this.
  app.allow_windows_style_options(false);
  bool yes = false;
  bool no = false;
  addGlobalOptions(app, o, &yes, &no);
  addCommands(app, o);
  addPackageTools(app, o);

  ParseResult result;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.output = app.help();
    return result;
  } catch (const CLI::CallForVersion& e) {
    result.output = e.what();
    return result;
  } catch (const CLI::ParseError& e) {
    return usageError(e.what());
  }
  result = checkParsed(app, *o);
  if (!result.output.empty()) return result;
  for (const Command& c : kCommands) {
    if (app.got_subcommand(c.name)) {
      o->command = c.name;
      o->switchText = c.switchText;
    }
  }
  for (const char* tool : {"verify", "sign", "manifest"}) {
    if (app.got_subcommand(tool)) o->command = tool;
  }
  o->answer = yes ? Answer::kYes : no ? Answer::kNo : Answer::kAsk;
  result.runJob = true;
  return result;
}

}  // namespace ovix::cli
