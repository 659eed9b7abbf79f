#include "server/upload.h"

#include <vector>

#include "app/working_files.h"
#include "package/file_key.h"
#include "package/file_record_upload.h"
#include "package/package_file.h"
#include "package/package_signature.h"
#include "package/server_connection.h"
#include "platform/messages.h"
#include "platform/time_string.h"

namespace ovix {
namespace {

// The largest file of the package and its size.
std::pair<std::string, int64_t> largestFile(ZdDbDataBase* package) {
  std::string sql = "select m_skey, length(m_stream) as n from " +
                    std::string(OVIXFileRecord::desc()->name()) +
                    " order by length(m_stream) desc limit 1";
  std::vector<std::vector<KVParams>> rows;
  if (package->selectSql(sql.c_str(), {makeColumnParam("m_skey"), makeIntParam("n", "", 0)}, rows) !=
      ZdDb::eOk)
    return {"", 0};
  return {rowText(rows[0][0]) ? rowText(rows[0][0]) : "", rows[0][1].value.intValue()};
}

// The pack time of the header of kind `kind` in the package file `path`; 0
// when the file cannot be opened or holds no such header.
int64_t packTimeOfKind(const std::string& path, char const* kind) {
  std::string sql = "select m_pack_time from " + std::string(OVIXPackageInfo::desc()->name()) +
                    " where m_type=? limit 0,1";
  DatabaseHandle db(openPackageFile(path.c_str()));
  if (!db) return 0;
  std::vector<std::vector<KVParams>> rows;
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_pack_time")}, rows, {KVData::text(kind)}) !=
          ZdDb::eOk ||
      rows.empty())
    return 0;
  return parseTimeString(rowText(rows[0][0]));
}

}  // namespace

bool isPackageOfKind(Env& env, const std::string& path, char const* kind) {
  // Opening a package file creates a missing one.
  if (kind == nullptr || !env.fileExists(path) || env.isDirectory(path)) return false;
  return packTimeOfKind(path, kind) > 0;
}

std::string findLocalPackage(Env& env, char const* kind) {
  if (kind == nullptr || *kind == '\0') {
    zdcom::errorMsg(zedaGetText_callbk("程序错误，未指定补丁类型"));
    return {};
  }
  int64_t bestTime = 0;
  std::string bestPath;
  for (const std::string& path : listProgramFiles(env, "*.package")) {
    int64_t time = packTimeOfKind(path, kind);
    if (time > bestTime) {
      bestTime = time;
      bestPath = path;
    }
  }
  if (bestPath.empty())
    zdcom::errorMsg(zedaGetText_callbk("当前程序运行目录下，未找到类型为%s的package"), kind);
  return bestPath;
}

namespace {

// False (reported) when the header names a table or key that no pack makes.
bool headerIsUsable(const OVIXPackageInfo& header) {
  const std::string table = header.refTblname();
  if (!zddb::isPlainIdentifier(table)) {
    zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包有错，参考表名%s不合法"), table.c_str());
    return false;
  }
  if (header.skey() == nullptr || !isPackageKeyText(header.skey())) {
    zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包有错，补丁编码%s不合法"),
                    printableKey(header.skey() != nullptr ? header.skey() : "").c_str());
    return false;
  }
  return true;
}

bool alreadyInStore(ZdDbDataBase* server, const OVIXPackageInfo& header) {
  std::string sql = "select * from " + std::string(OVIXPackageInfo::desc()->name()) + " where m_skey=?";
  return server->pureSql(sql.c_str(), {KVData::text(header.skey())}) == ZdDb::eOk;
}

// False (reported) when a file of the package would not fit in one
// statement of this server: nothing is sent before that is known.
bool everyFileFits(ZdDbDataBase* server, ZdDbDataBase* package) {
  auto [largest, largestBytes] = largestFile(package);
  uint64_t limit = server->connection()->maxValueBytes();
  if (static_cast<uint64_t>(largestBytes) + zddb::Connection::kRowOverheadBytes <= limit) return true;
  zdcom::errorMsg(zedaGetText_callbk("文件%s有%lld字节，超过服务器允许的数据包大小%llu字节（max_allowed_packet）"),
                  largest.c_str(), static_cast<long long>(largestBytes),
                  static_cast<unsigned long long>(limit));
  return false;
}

// The package's signature, checked before anything is sent (see
// signatureForServer).  False (reported) when the package is refused.
bool readWholeSignature(Env& env, ZdDbDataBase* package, const OVIXPackageInfo& header,
                        PackageSignature* signature) {
  std::string why;
  if (signatureForServer(env, package, header, signature, &why)) return true;
  zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包没有通过签名校验：%s"), why.c_str());
  return false;
}

// Makes the header table, the signature table and the package's table.
// Tables come first: on a server, making a table ends a running
// transaction.
bool createStoreTables(ZdDbDataBase* server, const std::string& table) {
  if (!createSignatureTable(server)) {
    zdcom::errorMsg(zedaGetText_callbk("服务器创建表%s失败"), kSignatureTable);
    return false;
  }
  const std::string headerTable = OVIXPackageInfo::desc()->name();
  if (createClassTable(server->getFilter(0), headerTable.c_str(), OVIXPackageInfo::desc()) != 0) {
    zdcom::errorMsg(zedaGetText_callbk("服务器创建表%s失败"), headerTable.c_str());
    return false;
  }
  if (createClassTable(server->getFilter(0), table.c_str(), OVIXFileRecord::desc()) != 0) {
    zdcom::errorMsg(zedaGetText_callbk("创建表%s失败"), table.c_str());
    return false;
  }
  return true;
}

// Writes the header and every file record in one transaction; false
// (reported) after rolling everything back.
bool writeWholePackage(Env& env, ZdDbDataBase* server, ZdDbDataBase* package,
                       OVIXPackageInfo& header, const PackageSignature& signature) {
  std::string error;
  bool ok = server->beginTransaction(ZdDbDataBase::kWriteTransaction) == ZdDb::eOk;
  if (ok && writeRecord(server, OVIXPackageInfo::desc()->name(), &header, kWriteInsert) != 0) {
    error = server->lastError();
    ok = false;
  }
  if (ok && !signature.manifest.empty() && !writeSignatureRow(server, signature)) {
    error = server->lastError();
    ok = false;
  }
  ok = ok && writeFileRecords(env, package, server, header.refTblname(), &error);
  if (ok && server->commitTransaction() != ZdDb::eOk) {
    error = server->lastError();
    ok = false;
  }
  if (ok) return true;
  server->rollbackTransaction();
  zdcom::errorMsg(zedaGetText_callbk("上传失败，服务器上没有留下这个补丁的任何数据：%s"), error.c_str());
  return false;
}

}  // namespace

bool uploadPackage(Env& env, const std::string& packagePath, char const* address, char const* port) {
  std::vector<std::string> list;
  if (!makeServerParams(list, address, port, nullptr)) return false;
  DatabaseHandle server(openOrCreatePatchStore(list));
  if (!server) return false;
  DatabaseHandle package(openPackageFile(packagePath.c_str()));
  if (!package) return false;

  std::unique_ptr<OVIXPackageInfo> header = readUploadHeader(package.get());
  if (!header || !checkUploadRecords(package.get()) || !headerIsUsable(*header)) return false;
  if (alreadyInStore(server.get(), *header)) {
    zdcom::errorMsg(zedaGetText_callbk("该补丁已经上传过服务器，无法再传"));
    return true;
  }
  PackageSignature signature;
  return readWholeSignature(env, package.get(), *header, &signature) &&
         everyFileFits(server.get(), package.get()) &&
         createStoreTables(server.get(), header->refTblname()) &&
         writeWholePackage(env, server.get(), package.get(), *header, signature);
}

}  // namespace ovix
