#include "cli/cli_job_host.h"

#include "packing/pack_job.h"

namespace ovix::cli {
namespace {

// The pack job's dialogs answered from the options: the version dialog is
// confirmed with --name and --version (its date check still applies), the
// file-open dialog with --info.
class OptionsPackUi final : public PackJobUi {
 public:
  explicit OptionsPackUi(const CliOptions& options) : options_(options) {}

  bool askVersion(bool projectMode, VersionInfo* info) override {
    if (!options_.versionConfirmed()) return false;
    return versionDialogOk(*options_.name, *options_.version, options_.date.value_or(""),
                           projectMode, info);
  }

  bool chooseProjectInfoFile(const std::string&, std::string* path) override {
    if (!options_.info) return false;
    *path = *options_.info;
    return true;
  }

 private:
  const CliOptions& options_;
};

}  // namespace

bool CliJobHost::runLocalPackage(const std::string& packageKind) {
  PackDialogFields fields;
  fields.user = options_.user;
  fields.path = options_.path;
  fields.subdir = options_.subdir.value_or("");
  fields.types = options_.types.value_or(defaultFileTypes(packageKind));
  OptionsPackUi ui(options_);
  return packDialogOk(*env_, fields, packageKind, ui);
}

}  // namespace ovix::cli
