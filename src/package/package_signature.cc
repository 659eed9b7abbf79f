#include "package/package_signature.h"

#include <set>

#include "package/package_file.h"
#include "platform/command_log.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"

namespace ovix {
namespace {

// A key file is two short lines; anything much longer is not one.
constexpr uint64_t kMaxKeyFileBytes = 4 << 10;

bool fail(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

std::string text(char const* value) { return value != nullptr ? value : ""; }

// Size and hash of the bytes a record carries, read through its reader.
bool measure(const OVIXFileRecord& record, uint64_t* size, ContentHash* hash) {
  std::unique_ptr<zddb::BlobSource> reader = record.bytes().open();
  ContentHasher hasher;
  char buffer[64 << 10];
  *size = 0;
  for (size_t got = 1; got > 0;) {
    if (!reader->read(buffer, sizeof buffer, &got)) return false;
    hasher.update(buffer, got);
    *size += got;
  }
  *hash = hasher.finish();
  return true;
}

// Calls `visit` with every file record of `package` and the size and hash
// of its bytes; stops at the first false.  False, with *why, when a
// record cannot be read or `visit` refused one.
template <typename Visit>
bool eachMeasuredRecord(ZdDbDataBase* package, std::string* why, Visit visit) {
  std::string fault;
  std::string sql = "select * from " + zddb::quoteIdentifier(OVIXFileRecord::desc()->name());
  ZdDb::ErrorStatus status = package->selectEach(
      sql.c_str(), OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kStream,
      [&](std::unique_ptr<ZdDbObject>& object) {
        const OVIXFileRecord* record = OVIXFileRecord::cast(object.get());
        const std::string key = record != nullptr ? text(record->skey()) : "";
        uint64_t size = 0;
        ContentHash hash;
        if (record == nullptr || !measure(*record, &size, &hash))
          fault = "文件" + key + "的数据无法读入";
        else
          fault = visit(key, size, hash);
        return fault.empty();
      });
  if (!fault.empty()) return fail(why, fault);
  if (status != ZdDb::eOk) return fail(why, "补丁包中的文件无法读入");
  return true;
}

// Compares every file record of `package` with `manifest`.
bool filesMatch(ZdDbDataBase* package, const PackageManifest& manifest, std::string* why) {
  std::set<std::string> seen;
  bool ok = eachMeasuredRecord(
      package, why, [&](const std::string& key, uint64_t size, const ContentHash& hash) {
        const ManifestEntry* signed_ = manifest.find(key);
        if (signed_ == nullptr || !seen.insert(key).second) return "文件" + key + "不在签名的清单中";
        if (size != signed_->size || hash != signed_->hash) return "文件" + key + "的数据与签名时不同";
        return std::string();
      });
  if (!ok) return false;
  for (const ManifestEntry& file : manifest.files()) {
    if (seen.count(file.key) == 0) return fail(why, "签名的文件" + file.key + "不在补丁中");
  }
  return true;
}

// The package's one header; null when it has none or several.
std::unique_ptr<OVIXPackageInfo> onlyHeader(ZdDbDataBase* package) {
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  std::string sql = "select * from " + zddb::quoteIdentifier(OVIXPackageInfo::desc()->name());
  if (package->selectSql(sql.c_str(), OVIXPackageInfo::desc(), headers, 0) != ZdDb::eOk ||
      headers.size() != 1 || OVIXPackageInfo::cast(headers[0].get()) == nullptr)
    return nullptr;
  return std::unique_ptr<OVIXPackageInfo>(OVIXPackageInfo::cast(headers[0].release()));
}

// The package file at `path`, opened only when it exists (opening would
// otherwise create an empty one).
ZdDbDataBase* openExistingPackage(Env& env, const std::string& path, std::string* why) {
  if (!env.fileExists(path)) {
    fail(why, "没有补丁包文件" + path);
    return nullptr;
  }
  ZdDbDataBase* package = openPackageFile(path.c_str());
  if (package == nullptr) fail(why, "无法打开补丁包文件" + path);
  return package;
}

bool readKeyFile(Env& env, const std::string& path, minisign::PublicKey* key, std::string* why) {
  std::string keyText;
  std::string error;
  const std::optional<uint64_t> size = env.fileSize(path);
  if (!size || *size > kMaxKeyFileBytes || !readFileToString(env, path, &keyText))
    return fail(why, "公钥文件" + path + "无法读入");
  if (!minisign::parsePublicKey(keyText, key, &error))
    return fail(why, "公钥文件" + path + "不是minisign公钥：" + error);
  return true;
}

}  // namespace

std::string signatureComment(const OVIXPackageInfo& header) {
  return "ovix package " + text(header.skey()) + " packed " + text(header.packTime());
}

PackageSignature signManifest(const minisign::SecretKey& signer, const OVIXPackageInfo& header,
                              std::vector<ManifestEntry> files) {
  PackageSignature out;
  out.key = text(header.skey());
  out.manifest = PackageManifest(header, std::move(files)).text();
  out.signature = minisign::sign(signer, out.manifest, signatureComment(header),
                                 "signature of an ovix package manifest");
  out.publicKey = minisign::publicKeyText(minisign::publicKeyOf(signer));
  return out;
}

bool createSignatureTable(ZdDbDataBase* db) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + zddb::quoteIdentifier(kSignatureTable) +
                    " (m_skey VARCHAR(64) PRIMARY KEY, m_manifest LONGTEXT NOT NULL,"
                    " m_signature TEXT NOT NULL, m_public_key TEXT NOT NULL)";
  return db->exeSql(sql.c_str()) == ZdDb::eOk;
}

bool writeSignatureRow(ZdDbDataBase* db, const PackageSignature& signature) {
  const char* key = signature.key.c_str();
  const std::string earlier =
      "DELETE FROM " + zddb::quoteIdentifier(kSignatureTable) + " WHERE m_skey=?";
  if (db->exeSql(earlier.c_str(), {KVData::text(key)}) != ZdDb::eOk) return false;
  std::string sql = "INSERT INTO " + zddb::quoteIdentifier(kSignatureTable) +
                    " (m_skey, m_manifest, m_signature, m_public_key) VALUES (?, ?, ?, ?)";
  return db->exeSql(sql.c_str(), {KVData::text(key), KVData::text(signature.manifest.c_str()),
                                  KVData::text(signature.signature.c_str()),
                                  KVData::text(signature.publicKey.c_str())}) == ZdDb::eOk;
}

bool readSignatureRow(ZdDbDataBase* db, char const* key, PackageSignature* signature) {
  if (!db->connection()->tableExists(kSignatureTable)) return false;
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select m_skey, m_manifest, m_signature, m_public_key from " +
                    zddb::quoteIdentifier(kSignatureTable);
  std::vector<KVData> params;
  if (key != nullptr) {
    sql += " where m_skey=?";
    params.push_back(KVData::text(key));
  }
  if (db->selectSql(sql.c_str(),
                    {makeColumnParam("m_skey"), makeColumnParam("m_manifest"), makeColumnParam("m_signature"),
                     makeColumnParam("m_public_key")},
                    rows, params) != ZdDb::eOk ||
      rows.size() != 1)
    return false;
  char const* m = rowText(rows[0][1]);
  char const* s = rowText(rows[0][2]);
  if (m == nullptr || s == nullptr) return false;
  *signature = {text(rowText(rows[0][0])), m, s, text(rowText(rows[0][3]))};
  return true;
}

bool loadTrustedKeys(Env& env, const std::string& folder, TrustedKeys* keys, std::string* why) {
  keys->clear();
  std::vector<DirEntry> entries;
  if (!env.isDirectory(folder)) return true;
  if (!env.listDirectory(folder, &entries)) return fail(why, "无法读入目录" + folder);
  for (const DirEntry& entry : entries) {
    if (entry.isDirectory || entry.name.size() < 4 ||
        entry.name.compare(entry.name.size() - 4, 4, ".pub") != 0)
      continue;
    minisign::PublicKey key;
    if (!readKeyFile(env, joinPath(folder, entry.name), &key, why)) return false;
    keys->push_back(key);
  }
  return true;
}

bool checkSignedHeader(const PackageSignature& signature, const TrustedKeys& keys,
                       const OVIXPackageInfo& header, PackageManifest* manifest, std::string* why) {
  minisign::KeyId id;
  if (!minisign::signatureKeyId(signature.signature, &id)) return fail(why, "签名已损坏");
  const minisign::PublicKey* signer = nullptr;
  for (const minisign::PublicKey& key : keys) {
    if (key.id == id) signer = &key;
  }
  if (signer == nullptr) return fail(why, "签名所用的密钥" + minisign::keyIdText(id) + "不受信任");
  std::string error;
  if (!minisign::verify(*signer, signature.manifest, signature.signature, nullptr, &error))
    return fail(why, "签名无效（" + error + "）");
  if (!PackageManifest::parse(signature.manifest, manifest, &error))
    return fail(why, "签名的清单无法读入（" + error + "）");
  std::string field;
  if (!manifest->describes(header, &field)) return fail(why, "包信息的" + field + "与签名时不同");
  return true;
}

bool verifyPackage(ZdDbDataBase* package, const TrustedKeys& keys, std::string* why) {
  PackageSignature signature;
  if (!readSignatureRow(package, nullptr, &signature)) return fail(why, "补丁没有签名");
  std::unique_ptr<OVIXPackageInfo> header = onlyHeader(package);
  if (!header) return fail(why, "补丁包中没有唯一的包信息");
  PackageManifest manifest;
  return checkSignedHeader(signature, keys, *header, &manifest, why) &&
         filesMatch(package, manifest, why);
}

bool verifyPackageAsSigned(ZdDbDataBase* package, bool* isSigned, std::string* why) {
  PackageSignature signature;
  *isSigned = readSignatureRow(package, nullptr, &signature) ||
              package->connection()->tableExists(kSignatureTable);
  if (!*isSigned) return true;
  TrustedKeys own(1);
  std::string error;
  if (!minisign::parsePublicKey(signature.publicKey, &own[0], &error))
    return fail(why, "补丁包中签名者的公钥无法读入");
  return verifyPackage(package, own, why);
}

bool signatureForServer(Env& env, ZdDbDataBase* package, const OVIXPackageInfo& header,
                        PackageSignature* signature, std::string* why) {
  TrustedKeys keys;
  bool isSigned = true;
  if (!loadTrustedKeys(env, joinPath(programDirectory, kProgramTrustedKeysFolder), &keys, why))
    return false;
  if (keys.empty()) {
    zdcom::OVIXCommandLog::errorlog("程序目录中没有受信任的公钥(%s)，补丁%s没有经过签名校验",
                                    kProgramTrustedKeysFolder, text(header.skey()).c_str());
    if (!verifyPackageAsSigned(package, &isSigned, why)) return false;
  } else if (!verifyPackage(package, keys, why)) {
    return false;
  }
  *signature = {};
  if (isSigned && !readSignatureRow(package, nullptr, signature)) return fail(why, "补丁没有签名");
  if (isSigned) signature->key = text(header.skey());  // the server finds it by this key
  return true;
}

bool verifyPackageFile(Env& env, const std::string& packagePath, const std::string& keyPath,
                       std::string* why) {
  TrustedKeys keys(1);
  if (!readKeyFile(env, keyPath, &keys[0], why)) return false;
  DatabaseHandle package(openExistingPackage(env, packagePath, why));
  return package && verifyPackage(package.get(), keys, why);
}

bool signPackageFile(Env& env, const std::string& packagePath, const minisign::SecretKey& signer,
                     std::string* why) {
  DatabaseHandle package(openExistingPackage(env, packagePath, why));
  if (!package) return false;
  std::unique_ptr<OVIXPackageInfo> header = onlyHeader(package.get());
  if (!header) return fail(why, "补丁包中没有唯一的包信息");
  std::vector<ManifestEntry> files;
  if (!eachMeasuredRecord(package.get(), why,
                          [&](const std::string& key, uint64_t size, const ContentHash& hash) {
                            files.push_back({key, size, hash});
                            return std::string();
                          }))
    return false;
  const PackageSignature signature = signManifest(signer, *header, std::move(files));
  ZdDbDataBase* db = package.get();
  const std::string clear = "DELETE FROM " + zddb::quoteIdentifier(kSignatureTable);
  bool ok = createSignatureTable(db) && db->beginTransaction(ZdDbDataBase::kWriteTransaction) == ZdDb::eOk;
  ok = ok && db->exeSql(clear.c_str()) == ZdDb::eOk &&
       writeSignatureRow(db, signature) && db->commitTransaction() == ZdDb::eOk;
  if (!ok) {
    db->rollbackTransaction();
    return fail(why, "写入补丁包失败：" + db->lastError());
  }
  return true;
}

bool exportManifest(Env& env, const std::string& packagePath, const std::string& manifestPath,
                    std::string* why) {
  DatabaseHandle package(openExistingPackage(env, packagePath, why));
  PackageSignature signature;
  if (!package) return false;
  if (!readSignatureRow(package.get(), nullptr, &signature)) return fail(why, "补丁没有签名");
  if (!writeFileAtomically(env, manifestPath, signature.manifest) ||
      !writeFileAtomically(env, manifestPath + ".minisig", signature.signature))
    return fail(why, Env::lastError());
  return true;
}

}  // namespace ovix
