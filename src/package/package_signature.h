// A package's signed manifest: where it is kept and how it is checked.

#ifndef OVIX_PACKAGE_PACKAGE_SIGNATURE_H_
#define OVIX_PACKAGE_PACKAGE_SIGNATURE_H_

#include <string>

#include "package/database.h"
#include "package/package_manifest.h"
#include "package/package_records.h"
#include "platform/env.h"
#include "platform/minisign.h"

namespace ovix {

// The table of a package file that holds its manifest and signature: one
// row, keyed by the package key.
inline constexpr char kSignatureTable[] = "OVIXPackageSignature";

// The trusted comment a package's signature carries: its key and pack time.
std::string signatureComment(const OVIXPackageInfo& header);

// Creates kSignatureTable in `db` when it is missing; false on failure
// (db->lastError() says why).
bool createSignatureTable(ZdDbDataBase* db);
bool writeSignatureRow(ZdDbDataBase* db, char const* key, const std::string& manifest,
                       const std::string& signature);
// The manifest and signature kept in `db`; false when there are none.
bool readSignatureRow(ZdDbDataBase* db, std::string* manifest, std::string* signature);

// Checks the package `package` (an open package file) against its signed
// manifest: the signature is `key`'s, the header is the one signed, and
// the file records are exactly the signed files with their sizes and
// hashes.  False with *why naming the first fault (a missing signature, a
// signature by another key, a changed header field, a changed, missing or
// added file).
bool verifyPackage(ZdDbDataBase* package, const minisign::PublicKey& key, std::string* why);

// verifyPackage on the package file `packagePath` with the public key in
// the file `keyPath` (as minisign -G writes it).
bool verifyPackageFile(Env& env, const std::string& packagePath, const std::string& keyPath,
                       std::string* why);

// Writes the manifest and the signature that the package file `packagePath`
// holds as `manifestPath` and `manifestPath`.minisig, for `minisign -V`.
// False, with *why, when the package is not signed or a file cannot be
// written.
bool exportManifest(Env& env, const std::string& packagePath, const std::string& manifestPath,
                    std::string* why);

}  // namespace ovix

#endif  // OVIX_PACKAGE_PACKAGE_SIGNATURE_H_
