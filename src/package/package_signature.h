// A package's signed manifest: where it is kept, how it is made and how it
// is checked.

#ifndef OVIX_PACKAGE_PACKAGE_SIGNATURE_H_
#define OVIX_PACKAGE_PACKAGE_SIGNATURE_H_

#include <string>
#include <vector>

#include "package/database.h"
#include "package/package_manifest.h"
#include "package/package_records.h"
#include "platform/env.h"
#include "platform/minisign.h"

namespace ovix {

// The table of a package file, of a patch store and of a project database
// that holds the manifests and signatures of packages, one row per package
// key.
inline constexpr char kSignatureTable[] = "OVIXPackageSignature";

// A package's manifest, its signature (a `.minisig` text) and the public
// key of the signer (a `.pub` text).  The key travels only so that an
// upload can check that the package is whole; a workstation trusts its own
// keys, never this one.
struct PackageSignature {
  std::string key;  // the package's
  std::string manifest;
  std::string signature;
  std::string publicKey;
};

using TrustedKeys = std::vector<minisign::PublicKey>;

// The trusted comment a package's signature carries: its key and pack time.
std::string signatureComment(const OVIXPackageInfo& header);

// The signature of `header` and `files` by `signer`.
PackageSignature signManifest(const minisign::SecretKey& signer, const OVIXPackageInfo& header,
                              std::vector<ManifestEntry> files);

// Creates kSignatureTable in `db` when it is missing; false on failure
// (db->lastError() says why).
bool createSignatureTable(ZdDbDataBase* db);
// Writes `signature`, replacing one the package had.
bool writeSignatureRow(ZdDbDataBase* db, const PackageSignature& signature);
// The signature of the package `key` in `db` (with a null `key`: the only
// row, as a package file has).  False when there is none.
bool readSignatureRow(ZdDbDataBase* db, char const* key, PackageSignature* signature);

// The public keys of the `.pub` files directly in `folder` (none when the
// folder is missing).  False, with *why naming the file, when a `.pub` file
// cannot be read or holds no public key: a damaged key file never makes an
// installation accept less.
bool loadTrustedKeys(Env& env, const std::string& folder, TrustedKeys* keys, std::string* why);

// Checks that `signature` is one of `keys`' over its manifest and that the
// manifest describes `header`; the manifest is then in *manifest.  False,
// with *why in the user's words, otherwise.
bool checkSignedHeader(const PackageSignature& signature, const TrustedKeys& keys,
                       const OVIXPackageInfo& header, PackageManifest* manifest, std::string* why);

// Checks the package `package` (an open package file) against its signed
// manifest: the signature is by one of `keys`, the header is the one
// signed, and the file records are exactly the signed files with their
// sizes and hashes.  False with *why naming the first fault.
bool verifyPackage(ZdDbDataBase* package, const TrustedKeys& keys, std::string* why);

// verifyPackage with the key the package carries: the check an upload
// makes, that the package is whole as its signer made it.  True for an
// unsigned package, with *isSigned false.
bool verifyPackageAsSigned(ZdDbDataBase* package, bool* isSigned, std::string* why);

// The folder of the program directory whose `.pub` files name the keys
// that a package must be signed by before it goes to a server.
inline constexpr char kProgramTrustedKeysFolder[] = "trusted-keys";

// Checks the package `package` with header `header` before it goes to a
// server, and gives the signature that travels with it in *signature
// (empty for an unsigned package; keyed by the header's key).  With keys
// in the program directory's kProgramTrustedKeysFolder the package must be
// signed by one of them; without, a signed package must still be whole as
// its signer made it, and the command log says that nothing was checked
// against trusted keys.  False, with *why, when the package is refused.
bool signatureForServer(Env& env, ZdDbDataBase* package, const OVIXPackageInfo& header,
                        PackageSignature* signature, std::string* why);

// verifyPackage on the package file `packagePath` with the public key in
// the file `keyPath` (as minisign -G writes it).
bool verifyPackageFile(Env& env, const std::string& packagePath, const std::string& keyPath,
                       std::string* why);

// Signs the package file `packagePath` as it is, replacing a signature it
// had.  False, with *why, when it cannot be read or written.
bool signPackageFile(Env& env, const std::string& packagePath, const minisign::SecretKey& signer,
                     std::string* why);

// Writes the manifest and the signature that the package file `packagePath`
// holds as `manifestPath` and `manifestPath`.minisig, for `minisign -V`.
// False, with *why, when the package is not signed or a file cannot be
// written.
bool exportManifest(Env& env, const std::string& packagePath, const std::string& manifestPath,
                    std::string* why);

}  // namespace ovix

#endif  // OVIX_PACKAGE_PACKAGE_SIGNATURE_H_
