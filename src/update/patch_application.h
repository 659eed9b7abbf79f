// Bringing an installation up to date from the patch store: which patches
// it needs, and writing their files with backups, restore on failure and
// the setup file updated last.

#ifndef OVIX_UPDATE_PATCH_APPLICATION_H_
#define OVIX_UPDATE_PATCH_APPLICATION_H_

#include <memory>
#include <string>
#include <vector>

#include "package/database.h"
#include "package/package_manifest.h"
#include "package/package_records.h"
#include "platform/env.h"

namespace ovix {

// True when the patch store of `ip`:`port` holds a base patch newer than
// what `installDir` has.  A store that cannot be opened is reported and
// gives false.
bool openPatchStoreAndCheck(Env& env, char const* installDir, char const* ip, char const* port);

// Applies the newest base patch and its dependents to `installDir` and
// records it in the setup file.  False when there is nothing to apply or
// anything failed (reported); the setup file then stays as it was.
bool openPatchStoreAndApply(Env& env, char const* installDir, char const* ip, char const* port);

// What an installation needs from the patch store.
struct SetupPatches {
  std::vector<std::unique_ptr<ZdDbObject>> headers;  // owns every header read
  OVIXPackageInfo* base = nullptr;                   // the base patch
  std::vector<OVIXPackageInfo*> dependents;          // its dependents, in store order
  // The setup file names no product: the base's name, version and dates
  // are written too.
  bool writeAll = false;
};

// The patches `installDir` needs from `db`, into *patches.  False when no
// base patch is needed.
bool findSetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir,
                      SetupPatches* patches);

// The newest base patch of product `name` `version` packed more than 60
// seconds after `installedDate`, and its dependents; null when none.
OVIXPackageInfo* findNewerPatch(char const* version, char const* name, char const* installedDate,
                                ZdDbDataBase* db, std::vector<std::unique_ptr<ZdDbObject>>& headers,
                                std::vector<OVIXPackageInfo*>* dependents);

// The folder of an installation's trusted public keys (minisign `.pub`
// files), as a package key.
inline constexpr char kTrustedKeysFolder[] = "sys\\trusted-keys";

// Applies what findSetupPatches finds and updates the setup file, holding
// the installation's lock throughout (one run per installation).  When the
// installation holds trusted keys, every package must carry a signature by
// one of them over its header and files, checked before the installation
// is touched.  False when there is nothing to apply or anything failed or
// was refused (reported); the setup file then stays as it was.
bool applySetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir);

// Writes the files of one package into the installation `tree` (named
// `installDir` in the run log).  Each record is checked as it is read (its
// key, CRC text and place) and fetched into a staging folder of this run
// and checked against its CRC before the installation is touched; then
// each file is backed up (once: an interrupted run's backup is kept) and
// replaced by a rename.  With `signedFiles`, the package's files must be
// exactly the signed ones, each with its signed size and hash, or the
// package is refused before the installation is touched.  A file that already holds the package's bytes is
// left alone, so a run that was killed can simply run again.  When a
// replacement fails, the files this run replaced are put back and the
// files and folders it made are removed.
bool applyPackage(DirectoryTree& tree, ZdDbDataBase* db, OVIXPackageInfo* header,
                  const std::string& installDir, const PackageManifest* signedFiles = nullptr);

}  // namespace ovix

#endif  // OVIX_UPDATE_PATCH_APPLICATION_H_
