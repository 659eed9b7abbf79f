// Writing a package's file records into a server database: the part of
// the upload that the project patch shares, and the checks both make on a
// package before anything is sent.

#ifndef OVIX_PACKAGE_FILE_RECORD_UPLOAD_H_
#define OVIX_PACKAGE_FILE_RECORD_UPLOAD_H_

#include <memory>
#include <string>

#include "package/database.h"
#include "package/package_signature.h"
#include "package/package_records.h"
#include "platform/env.h"

namespace ovix {

// The header of `package`, read for an upload or a project patch.  Null,
// after "上传的版本数据包中无版本信息记录" or "上传的版本数据包有错，无参考表数据",
// when the package has none or it names no reference table.
std::unique_ptr<OVIXPackageInfo> readUploadHeader(ZdDbDataBase* package);

// Reads the key and CRC text of every file record of `package` and refuses
// (with a message naming it) one that a workstation would refuse; so a
// package with one odd file name never reaches the server.  A package
// whose records cannot be read gives "上传的版本数据包中无数据".
bool checkUploadRecords(ZdDbDataBase* package);

// Writes the file records of `package` into `table` of `target` inside the
// caller's transaction: records whose m_dbkey the target's dbnamemap lists
// are copied in as databases, records new to the table get a fresh GUID,
// records already there keep theirs; every version is raised by one.  The
// decisions take one query each for the whole table, not one per record.
// The table must exist.  False, with the reason in *error, when a write
// failed.
bool writeFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                      const std::string& table, std::string* error);

// The project patch's entry: makes `table` and writes the records, and
// `signature` when given, in a transaction of its own.  Reports what
// fails; the result says whether everything was written.
bool uploadFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                       const std::string& table, char const* className,
                       const PackageSignature* signature = nullptr);

}  // namespace ovix

#endif  // OVIX_PACKAGE_FILE_RECORD_UPLOAD_H_
