// The upload: the newest local package of a kind into the server's patch
// store, and the file-record writer that the project patch shares.

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

// The header of `package`, read for an upload or a project patch.  Null,
// after "上传的版本数据包中无版本信息记录" or "上传的版本数据包有错，无参考表数据",
// when the package has none or it names no reference table.
std::unique_ptr<OVIXPackageInfo> readUploadHeader(ZdDbDataBase* package);

// Reads the key and CRC text of every file record of `package` and refuses
// (with a message naming it) one that a workstation would refuse; so a
// package with one odd file name never reaches the server.  A package
// whose records cannot be read gives "上传的版本数据包中无数据".
bool checkUploadRecords(ZdDbDataBase* package);

// Uploads the package at `packagePath` to the patch store of
// `address`:`port`, creating the store when the server lacks it.  Tables
// are made first; the header and every file record are then committed in
// one transaction, so the store shows the whole package or nothing of it,
// and a failed upload can be run again.  A package already in the store is
// reported and counts as success.  False (reported where there is
// something to say) when the upload did not happen.
bool uploadPackage(Env& env, const std::string& packagePath, char const* address, char const* port);

// Writes the file records of `package` into `table` of `target` inside the
// caller's transaction: records whose m_dbkey the target's dbnamemap lists
// are copied in as databases, records new to the table get a fresh GUID,
// records already there keep theirs; every version is raised by one.  The
// decisions take one query each for the whole table, not one per record.
// The table must exist.  False, with the reason in *error, when a write
// failed.
bool writeFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                      const std::string& table, std::string* error);

// The project patch's entry: makes `table` and writes the records in a
// transaction of its own.  Reports what fails; the result says whether
// everything was written.
bool uploadFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                       const std::string& table, char const* className);

}  // namespace ovix

#endif  // OVIX_SERVER_UPLOAD_H_
