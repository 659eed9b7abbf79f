#include "package/package_signature.h"

#include <set>

#include "package/package_file.h"

namespace ovix {
namespace {

bool fail(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

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

// Compares every file record of `package` with `manifest`.
bool filesMatch(ZdDbDataBase* package, const PackageManifest& manifest, std::string* why) {
  std::set<std::string> seen;
  std::string fault;
  std::string sql = "select * from " + zddb::quoteIdentifier(OVIXFileRecord::desc()->name());
  ZdDb::ErrorStatus status = package->selectEach(
      sql.c_str(), OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kStream,
      [&](std::unique_ptr<ZdDbObject>& object) {
        const OVIXFileRecord* record = OVIXFileRecord::cast(object.get());
        const std::string key = record != nullptr && record->skey() != nullptr ? record->skey() : "";
        const ManifestEntry* signed_ = manifest.find(key);
        uint64_t size = 0;
        ContentHash hash;
        if (signed_ == nullptr || !seen.insert(key).second)
          fault = "the file " + key + " is not one the supplier signed";
        else if (!measure(*record, &size, &hash))
          fault = "the bytes of " + key + " cannot be read";
        else if (size != signed_->size || hash != signed_->hash)
          fault = "the bytes of " + key + " differ from the signed ones";
        return fault.empty();
      });
  if (!fault.empty()) return fail(why, fault);
  if (status != ZdDb::eOk) return fail(why, "the package's files cannot be read");
  for (const ManifestEntry& file : manifest.files()) {
    if (seen.count(file.key) == 0) return fail(why, "the signed file " + file.key + " is missing");
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
    fail(why, "no package file " + path);
    return nullptr;
  }
  ZdDbDataBase* package = openPackageFile(path.c_str());
  if (package == nullptr) fail(why, "cannot open the package file " + path);
  return package;
}

}  // namespace

std::string signatureComment(const OVIXPackageInfo& header) {
  auto text = [](char const* value) { return std::string(value != nullptr ? value : ""); };
  return "ovix package " + text(header.skey()) + " packed " + text(header.packTime());
}

bool createSignatureTable(ZdDbDataBase* db) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + zddb::quoteIdentifier(kSignatureTable) +
                    " (m_skey VARCHAR(64) PRIMARY KEY, m_manifest LONGTEXT NOT NULL,"
                    " m_signature TEXT NOT NULL)";
  return db->exeSql(sql.c_str()) == ZdDb::eOk;
}

bool writeSignatureRow(ZdDbDataBase* db, char const* key, const std::string& manifest,
                       const std::string& signature) {
  std::string sql = "INSERT INTO " + zddb::quoteIdentifier(kSignatureTable) +
                    " (m_skey, m_manifest, m_signature) VALUES (?, ?, ?)";
  return db->exeSql(sql.c_str(), {KVData::text(key), KVData::text(manifest.c_str()),
                                  KVData::text(signature.c_str())}) == ZdDb::eOk;
}

bool readSignatureRow(ZdDbDataBase* db, std::string* manifest, std::string* signature) {
  if (!db->connection()->tableExists(kSignatureTable)) return false;
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select m_manifest, m_signature from " + zddb::quoteIdentifier(kSignatureTable);
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_manifest"), makeColumnParam("m_signature")},
                    rows) != ZdDb::eOk ||
      rows.size() != 1)
    return false;
  char const* m = rowText(rows[0][0]);
  char const* s = rowText(rows[0][1]);
  if (m == nullptr || s == nullptr) return false;
  *manifest = m;
  *signature = s;
  return true;
}

bool verifyPackage(ZdDbDataBase* package, const minisign::PublicKey& key, std::string* why) {
  std::string text;
  std::string signature;
  if (!readSignatureRow(package, &text, &signature)) return fail(why, "the package is not signed");
  std::string error;
  if (!minisign::verify(key, text, signature, nullptr, &error)) return fail(why, error);
  PackageManifest manifest;
  if (!PackageManifest::parse(text, &manifest, &error)) return fail(why, error);
  std::unique_ptr<OVIXPackageInfo> header = onlyHeader(package);
  std::string field;
  if (!header) return fail(why, "the package has no single header");
  if (!manifest.describes(*header, &field))
    return fail(why, "the header's field " + field + " differs from the signed one");
  return filesMatch(package, manifest, why);
}

bool verifyPackageFile(Env& env, const std::string& packagePath, const std::string& keyPath,
                       std::string* why) {
  std::string keyText;
  minisign::PublicKey key;
  if (!readFileToString(env, keyPath, &keyText)) return fail(why, Env::lastError());
  if (!minisign::parsePublicKey(keyText, &key, why)) return false;
  DatabaseHandle package(openExistingPackage(env, packagePath, why));
  return package && verifyPackage(package.get(), key, why);
}

bool exportManifest(Env& env, const std::string& packagePath, const std::string& manifestPath,
                    std::string* why) {
  DatabaseHandle package(openExistingPackage(env, packagePath, why));
  std::string manifest;
  std::string signature;
  if (!package) return false;
  if (!readSignatureRow(package.get(), &manifest, &signature))
    return fail(why, "the package is not signed");
  if (!writeFileAtomically(env, manifestPath, manifest) ||
      !writeFileAtomically(env, manifestPath + ".minisig", signature))
    return fail(why, Env::lastError());
  return true;
}

}  // namespace ovix
