// The project patch: a project-configuration package applied to the
// project databases of a server, one named project or all of them.

#ifndef OVIX_PROJECT_PROJECT_PATCH_H_
#define OVIX_PROJECT_PROJECT_PATCH_H_

#include <string>

#include "package/database.h"
#include "package/package_signature.h"
#include "platform/env.h"

namespace ovix {

// The table of a project database that receives the package's files (and
// kSignatureTable its signature, when it carries one).
inline constexpr char kProjectConfigTable[] = "ZedaConfigServer";

// Applies the package at `packagePath` to the project it names, or, after
// the user agrees, to every project of the server at `address`:`port`.  A
// named project is patched only when its GUID matches the package's and its
// mark is older than the package; every patched project then carries the
// package key as its mark.  True when the patch was applied; false after a
// message, except when the package or a project database cannot be opened
// (the command log says why) and when the user declines.  The package's
// signature is checked first (see signatureForServer) and travels into
// each project database with the files.  In the
// all-projects path the first failure stops the loop; projects patched
// before it stay patched and marked.
bool applyProjectPatch(Env& env, const std::string& packagePath, char const* address,
                       char const* port);

// Writes the file records of `package` into the table ZedaConfigServer of
// the project database `project`, under the project lock; records whose
// dbkey the project's dbnamemap lists are copied in as whole databases.
// True when the records were written; false when the database cannot be
// opened (logged), the lock cannot be taken or the write fails (both
// shown), and then the project database is unchanged.  The caller keeps
// `package`.
bool patchOneProject(Env& env, ZdDbDataBase* package, char const* address, char const* port,
                     char const* project, const PackageSignature* signature = nullptr);

// Stores `mark` as the last patch applied to `project` in the general
// database.  False only when the general database cannot be opened.
bool updateLineTemp(char const* address, char const* port, char const* project, char const* mark);

// The time of a project's mark: the packing time after its three code
// characters, 0 for a mark shorter than four characters.
int64_t markTime(const std::string& mark);

}  // namespace ovix

#endif  // OVIX_PROJECT_PROJECT_PATCH_H_
