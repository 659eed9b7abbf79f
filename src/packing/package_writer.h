// Writes a package file: the header and one file record per selected file,
// in one transaction, made visible under its name only once complete.

#ifndef OVIX_PACKING_PACKAGE_WRITER_H_
#define OVIX_PACKING_PACKAGE_WRITER_H_

#include <string>

#include "package/package_records.h"
#include "platform/minisign.h"
#include "packing/file_selection.h"
#include "platform/env.h"

namespace ovix {

// Files up to this size are read whole; larger ones are streamed into their
// record in chunks, so memory stays bounded whatever the tree holds.  A file
// larger than the package database can store in one row (just under
// 1,000,000,000 bytes with the system's SQLite) is refused with a message.
inline constexpr int64_t kInMemoryFileBytes = 4 << 20;

// Selects the files below `root` (from `startDirectory`) with `filter` and
// writes `header` and their records to `packagePath`.  An existing package
// at that path is replaced once the new one is complete; one that is open
// elsewhere is left alone.
//
// The package is built in PATH.part, flushed to disk and renamed into
// place, so no half-written package ever carries the package's name: a
// failure, a cancel through the presenter's progress, or a crash leaves an
// earlier package as it was.  Reports every failure through the message
// services and returns false.
//
// With `signer`, the package also holds its manifest (see PackageManifest)
// signed with that key, in the table kSignatureTable; each file is hashed
// while it is read for its record, not in a second pass.
bool writePackageFile(Env& env, OVIXPackageInfo& header, const std::string& packagePath,
                      const std::string& root, const std::string& startDirectory,
                      const PackFileFilter& filter,
                      const minisign::SecretKey* signer = nullptr);

}  // namespace ovix

#endif  // OVIX_PACKING_PACKAGE_WRITER_H_
