// The upload: the newest local package of a kind (or a named one) into the
// server's patch store.

#ifndef OVIX_SERVER_UPLOAD_H_
#define OVIX_SERVER_UPLOAD_H_

#include <memory>
#include <string>

#include "package/database.h"
#include "package/package_records.h"
#include "platform/env.h"

namespace ovix {

// The path of the package file directly in the program directory whose
// header has `kind` as m_type and the latest pack time ("" and a message
// when there is none, or when `kind` is null or empty).  Of equal times the
// first listed wins; a header without pack time is never chosen.
std::string findLocalPackage(Env& env, char const* kind);

// True when `path` is an existing package file whose header has `kind` as
// m_type and a pack time, as findLocalPackage would choose it.
bool isPackageOfKind(Env& env, const std::string& path, char const* kind);

// Uploads the package at `packagePath` to the patch store of
// `address`:`port`, creating the store when the server lacks it.  Tables
// are made first; the header, the signature (of a signed package) and
// every file record are then committed in one transaction, so the store
// shows the whole package or nothing of it, and a failed upload can be run
// again.  A signed package whose signature or bytes do not match its own
// manifest is refused before anything is sent.  A package already in the store is
// reported and counts as success.  False (reported where there is
// something to say) when the upload did not happen.
bool uploadPackage(Env& env, const std::string& packagePath, char const* address, char const* port);

}  // namespace ovix

#endif  // OVIX_SERVER_UPLOAD_H_
