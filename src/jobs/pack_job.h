// The pack job: what pressing OK in the pack dialog does.

#ifndef OVIX_JOBS_PACK_JOB_H_
#define OVIX_JOBS_PACK_JOB_H_

#include <string>

#include "packing/version_input.h"
#include "platform/env.h"

namespace ovix {

// The pack dialog's fields as typed.
struct PackDialogFields {
  std::string user;    // user name: names the user folder
  std::string path;    // root of the source tree
  std::string subdir;  // start sub-directory, or name of an exclusion list
  std::string types;   // comma-separated file types, or name of a file list
  // A secret key file of minisign -G to sign the package with ("": the
  // package is not signed), and its password ("" for a key without one).
  std::string signingKey;
  std::string signingPassword;
};

// Default of the file-type field for a kind.
std::string defaultFileTypes(const std::string& kind);

// The dialogs the pack job opens, as a front end shows them.
class PackJobUi {
 public:
  virtual ~PackJobUi() = default;
  // The version dialog; true with *info when it was closed with OK.
  virtual bool askVersion(bool projectMode, VersionInfo* info) = 0;
  // The file-open dialog for a project information file ("*.INI", starting
  // in `initialDirectory`); true with a path when one was chosen.
  virtual bool chooseProjectInfoFile(const std::string& initialDirectory, std::string* path) = 0;
  // The password box of the signing key `keyPath` that the working
  // folder's settings name; true with *password unless the user cancelled.
  virtual bool askSigningPassword(const std::string& keyPath, std::string* password) = 0;
};

// Runs the pack job for `kind` ("DLL" or "CONFIG") with the dialog's
// fields.  Reports success and every failure through the message services.
// A user name that is not one folder name, or a list-file name that would
// leave the user folder, is refused before anything is asked or written.
// The package is signed with the fields' key or, when they name none, with
// the key the working folder's settings name (configuredSigningKey), whose
// password the ui asks for when the key has one.  A signing key that
// cannot be read or opened with its password is refused before anything
// is written.
// Returns true when a package was written (the pack dialog closes).
// `packagePath`, when given, receives the path of the package written.
bool packDialogOk(Env& env, const PackDialogFields& fields, const std::string& kind,
                  PackJobUi& ui, std::string* packagePath = nullptr);

}  // namespace ovix

#endif  // OVIX_JOBS_PACK_JOB_H_
