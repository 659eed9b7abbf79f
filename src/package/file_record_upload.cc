#include "package/file_record_upload.h"

#include <map>
#include <set>
#include <vector>

#include "package/batch_insert.h"
#include "package/file_key.h"
#include "package/package_file.h"
#include "platform/messages.h"
#include "platform/presenter.h"

namespace ovix {
namespace {


// Files up to this size travel with other rows in one statement; larger
// ones stream into a statement of their own.
constexpr int64_t kBatchedFileBytes = 1 << 20;
// The most bytes one batched statement carries (less on a server whose
// packet limit is lower).
constexpr uint64_t kMaxBatchBytes = 8 << 20;

using Records = std::vector<std::unique_ptr<OVIXFileRecord>>;

// Counts written records on the presenter's progress display; the user's
// cancel ends the write, and the caller's rollback leaves nothing behind.
class WriteProgress {
 public:
  explicit WriteProgress(size_t total) : total_(total) { step(0); }
  ~WriteProgress() { zdcom::currentPresenter().progress(kWhat, total_, total_); }

  // False, with *error set, when the user cancelled.
  bool advance(std::string* error) {
    if (step(++done_)) return true;
    *error = zedaGetText_callbk("用户取消了上传");
    return false;
  }

 private:
  static constexpr char kWhat[] = "上传";
  bool step(size_t done) { return zdcom::currentPresenter().progress(kWhat, done, total_); }

  size_t total_;
  size_t done_ = 0;
};

std::string fileTableOf(ZdDbDataBase*) { return OVIXFileRecord::desc()->name(); }

// Why a file record must not leave for the server ("" when it may): a key
// or CRC text that every workstation would refuse.
std::string recordFault(char const* key, char const* crcText) {
  const KeyFault fault = key == nullptr ? KeyFault::kEmpty : checkFileKey(key);
  const std::string shown = printableKey(key != nullptr ? key : "");
  if (fault != KeyFault::kNone)
    return zdcom::format(zedaGetText_callbk("上传的版本数据包中文件路径%s%s，工作站不能安装"),
                         shown.c_str(), keyFaultText(fault));
  if (crcText == nullptr || !isCrcText(crcText))
    return zdcom::format(zedaGetText_callbk("上传的版本数据包中文件%s的校验码%s不合法"), shown.c_str(),
                         printableKey(crcText != nullptr ? crcText : "").c_str());
  return {};
}

// Fills `bytes` (sized to what `source` announces) from `source`; false
// when it cannot be read or ends early.
bool readAll(zddb::BlobSource& source, std::string* bytes) {
  size_t done = 0;
  while (done < bytes->size()) {
    size_t got = 0;
    if (!source.read(bytes->data() + done, bytes->size() - done, &got) || got == 0) return false;
    done += got;
  }
  return true;
}

// The record's bytes from the package: small ones into the record's block,
// large ones as a stream the target's statement pulls.
bool attachBytes(ZdDbDataBase* package, OVIXFileRecord& record, std::string* error) {
  zddb::BlobLocation where{fileTableOf(package), "m_stream", "m_skey", record.skey()};
  std::unique_ptr<zddb::BlobSource> source = package->connection()->openBlob(where);
  if (!source) {
    *error = "cannot read the bytes of " + std::string(record.skey()) + ": " +
             package->connection()->lastError();
    return false;
  }
  if (source->size() > kBatchedFileBytes) {
    record.setStreamSource(std::shared_ptr<zddb::BlobSource>(std::move(source)));
    return true;
  }
  std::string bytes(static_cast<size_t>(source->size()), '\0');
  if (!readAll(*source, &bytes)) {
    *error = "cannot read the bytes of " + std::string(record.skey());
    return false;
  }
  record.setStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  return true;
}

// Every file record of the package, without bytes.
bool readRecords(ZdDbDataBase* package, Records* records) {
  std::string sql = "select m_skey, m_crc, m_dbkey, m_guid, m_version from " + fileTableOf(package);
  return package->selectEach(sql.c_str(), OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kDefer,
                             [records](std::unique_ptr<ZdDbObject>& object) {
                               records->emplace_back(OVIXFileRecord::cast(object.release()));
                               return true;
                             }) == ZdDb::eOk;
}

// The dbkeys the target's dbnamemap lists (none when it has no such table).
std::set<std::string> listedDatabaseKeys(ZdDbDataBase* target) {
  std::set<std::string> keys;
  if (!target->connection()->tableExists("dbnamemap")) return keys;
  std::vector<std::vector<KVParams>> rows;
  target->selectSql("select dbkey from dbnamemap", {makeColumnParam("dbkey")}, rows);
  for (const auto& row : rows) {
    if (char const* key = rowText(row[0])) keys.insert(key);
  }
  return keys;
}

// The keys and versions already in `table`.
std::map<std::string, int> storedVersions(ZdDbDataBase* target, const std::string& table) {
  std::map<std::string, int> versions;
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select m_skey, m_version from " + zddb::quoteIdentifier(table);
  target->selectSql(sql.c_str(), {makeColumnParam("m_skey"), makeIntParam("m_version", "", 0)}, rows);
  for (const auto& row : rows) {
    if (char const* key = rowText(row[0])) versions[key] = row[1].value.intValue();
  }
  return versions;
}

// Copies the database a record carries into `target`; a record whose bytes
// cannot be read is passed over, as a failed copy is.
void copyDatabaseRecord(Env& env, ZdDbDataBase* package, OVIXFileRecord& record,
                        ZdDbDataBase* target) {
  std::string error;
  if (!attachBytes(package, record, &error)) return;
  // A database travels whole through a temporary file.
  if (record.hasStreamSource()) {
    std::string bytes(static_cast<size_t>(record.streamSize()), '\0');
    if (!readAll(*record.bytes().open(), &bytes)) return;
    record.setStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  cloneDatabaseFromRecord(env, &record, target);
  record.clearStream();
}

bool writeNewRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target, const std::string& table,
                     Records& records, WriteProgress& progress, std::string* error) {
  if (records.empty()) return true;
  const uint64_t limit = target->connection()->maxValueBytes();
  std::unique_ptr<BatchInserter> batch;
  for (auto& record : records) {
    record->setGuid(newGuidText().c_str());
    record->incrementVersion();
    if (!attachBytes(package, *record, error)) return false;
    if (record->hasStreamSource()) {
      if (writeRecord(target, table.c_str(), record.get(), kWriteInsert) != 0) {
        *error = target->lastError();
        return false;
      }
      if (!progress.advance(error)) return false;
      continue;
    }
    std::vector<zddb::FieldSpec> fields;
    std::vector<CollectedValue> values;
    if (!collectRecordValues(target, table.c_str(), record.get(), &fields, &values)) {
      *error = "cannot write the record " + std::string(record->skey() ? record->skey() : "");
      return false;
    }
    if (!batch) {
      size_t maxBytes = static_cast<size_t>(std::min<uint64_t>(kMaxBatchBytes, limit / 2));
      batch = std::make_unique<BatchInserter>(target->connection(), table, fields, maxBytes);
    }
    if (!batch->add(std::move(values))) {
      *error = batch->lastError();
      return false;
    }
    record->clearStream();  // the batch holds its own copy
    if (!progress.advance(error)) return false;
  }
  (void)env;
  if (batch && !batch->flush()) {
    *error = batch->lastError();
    return false;
  }
  return true;
}

bool writeExistingRecords(ZdDbDataBase* package, ZdDbDataBase* target, const std::string& table,
                          Records& records, WriteProgress& progress, std::string* error) {
  for (auto& record : records) {
    record->setWriteGuid(0);
    record->incrementVersion();
    if (!attachBytes(package, *record, error)) return false;
    if (writeRecord(target, table.c_str(), record.get(), kWriteUpdate) != 0) {
      *error = target->lastError();
      return false;
    }
    record->clearStream();
    if (!progress.advance(error)) return false;
  }
  return true;
}

bool writeDatabaseRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target, Records& records,
                          WriteProgress& progress, std::string* error) {
  for (auto& record : records) {
    copyDatabaseRecord(env, package, *record, target);
    if (!progress.advance(error)) return false;
  }
  return true;
}

}  // namespace

bool writeFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                      const std::string& table, std::string* error) {
  // One read transaction over the package: its many small reads then share
  // one lock instead of taking and checking it each time.
  struct ReadScope {
    zddb::Connection* connection;
    bool open;
    explicit ReadScope(zddb::Connection* c) : connection(c), open(c->beginReadTransaction()) {}
    ~ReadScope() {
      if (open) connection->endReadTransaction();
    }
  } readScope(package->connection());
  Records all;
  if (!readRecords(package, &all)) {
    *error = zedaGetText_callbk("上传的版本数据包中无数据");
    return false;
  }
  const std::set<std::string> databases = listedDatabaseKeys(target);
  const std::map<std::string, int> stored = storedVersions(target, table);
  Records databaseRecords, newRecords, existingRecords;
  for (auto& record : all) {
    // Checked again on the records that are written, in case the package
    // changed since checkUploadRecords read it.
    *error = recordFault(record->skey(), record->crc());
    if (!error->empty()) return false;
    if (record->dbkey() != nullptr && *record->dbkey() != '\0' && databases.count(record->dbkey())) {
      databaseRecords.push_back(std::move(record));
      continue;
    }
    auto it = stored.find(record->skey());
    if (it == stored.end()) {
      newRecords.push_back(std::move(record));
    } else {
      record->setVersion(it->second);
      existingRecords.push_back(std::move(record));
    }
  }
  WriteProgress progress(databaseRecords.size() + newRecords.size() + existingRecords.size());
  return writeDatabaseRecords(env, package, target, databaseRecords, progress, error) &&
         writeNewRecords(env, package, target, table, newRecords, progress, error) &&
         writeExistingRecords(package, target, table, existingRecords, progress, error);
}

bool uploadFileRecords(Env& env, ZdDbDataBase* package, ZdDbDataBase* target,
                       const std::string& table, char const* className,
                       const PackageSignature* signature) {
  (void)className;
  if (!zddb::isPlainIdentifier(table) ||
      createClassTable(target->getFilter(0), table.c_str(), OVIXFileRecord::desc()) != 0 ||
      (signature != nullptr && !createSignatureTable(target))) {
    zdcom::errorMsg(zedaGetText_callbk("创建表%s失败"), table.c_str());
    return false;
  }
  std::string error;
  if (target->beginTransaction(ZdDbDataBase::kWriteTransaction) != ZdDb::eOk) return false;
  if (signature != nullptr && !writeSignatureRow(target, *signature))
    error = target->lastError();
  if (!error.empty() || !writeFileRecords(env, package, target, table, &error)) {
    target->rollbackTransaction();
    zdcom::errorMsg(zedaGetText_callbk("上传失败：%s"), error.c_str());
    return false;
  }
  return target->commitTransaction() == ZdDb::eOk;
}

std::unique_ptr<OVIXPackageInfo> readUploadHeader(ZdDbDataBase* package) {
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  std::string select = "select * from " + std::string(OVIXPackageInfo::desc()->name());
  std::unique_ptr<OVIXPackageInfo> header;
  if (package->selectSql(select.c_str(), OVIXPackageInfo::desc(), headers, 0) == ZdDb::eOk &&
      !headers.empty() && OVIXPackageInfo::cast(headers[0].get()) != nullptr)
    header.reset(OVIXPackageInfo::cast(headers[0].release()));
  if (!header) {
    zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包中无版本信息记录"));
    return nullptr;
  }
  if (header->refTblname() == nullptr) {
    zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包有错，无参考表数据"));
    return nullptr;
  }
  return header;
}

bool checkUploadRecords(ZdDbDataBase* package) {
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select m_skey, m_crc from " + fileTableOf(package);
  if (package->selectSql(sql.c_str(), {makeColumnParam("m_skey"), makeColumnParam("m_crc")}, rows) !=
      ZdDb::eOk) {
    zdcom::errorMsg(zedaGetText_callbk("上传的版本数据包中无数据"));
    return false;
  }
  for (const auto& row : rows) {
    std::string fault = recordFault(rowText(row[0]), rowText(row[1]));
    if (!fault.empty()) {
      zdcom::errorMsg("%s%s", fault.c_str(), zedaGetText_callbk("，上传被拒绝"));
      return false;
    }
  }
  return true;
}

}  // namespace ovix
