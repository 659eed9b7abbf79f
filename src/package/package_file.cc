#include "package/package_file.h"


#include <cstdio>

#include "platform/guid.h"
#include "platform/messages.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"

namespace ovix {

ZdDbDataBase* openPackageFile(char const* path) {
  DatabaseHandle db(mallocDatabase(ZdDb::kSqliteFile));
  db->setOpenFlag(16);
  if (db->pureOpenDB_2(path, 1, nullptr) != ZdDb::eOk) return nullptr;
  return db.release();
}

int createClassTable(ZdDbFilter* filter, char const* tableName, ZdRxClass* cls) {
  if (filter == nullptr || tableName == nullptr || cls == nullptr) return 1;
  std::unique_ptr<ZdRxObject> made(cls->create());
  auto* object = dynamic_cast<ZdDbObject*>(made.get());
  if (object == nullptr) return 1;

  std::string keyName;
  zddb::FieldKind keyKind;
  if (cls->getMainKey(&keyName, &keyKind)) filter->setMainKey(keyName.c_str(), keyKind);
  filter->setTable(tableName);
  filter->setStatementKind(ZdDbFilter::kCreateTable);
  filter->resetFields();
  filter->setPass(0);

  object->writeFields(filter);
  std::string sql = filter->statementText();
  ZdDb::ErrorStatus status = filter->status() == ZdDb::eOk ? filter->execute(sql.c_str()) : filter->status();
  filter->setState(2);
  // The table must exist afterwards; a statement that failed leaves the
  // caller's next write to fail, so report it here already.
  return status == ZdDb::eOk ? 0 : 1;
}

namespace {

// Sets up the filter for writing `record` into `table` (step 2 of a write).
bool prepareRecordFilter(ZdDbDataBase* database, ZdDbFilter* filter, ZdDbObject* record,
                         const std::string& table, int mode) {
  if (filter == nullptr || record == nullptr || table.empty()) return false;
  ZdRxClass* cls = record->isA();
  if (cls == nullptr) return false;
  filter->setTable(table.c_str());
  filter->setStatementKind(mode);
  if (cls->isIdAsMainkey()) {
    filter->setKeyId(record->toIdWithoutVer());
  } else {
    std::string keyName;
    zddb::FieldKind keyKind;
    cls->getMainKey(&keyName, &keyKind);
    filter->setMainKey(keyName.c_str(), keyKind);
    KVData value;
    if (record->getMainKeyValue(database->getDBType(), value) != ZdDb::eOk) return false;
    filter->setKeyValue(value);
  }
  filter->setPass(0);
  filter->resetFields();
  return true;
}

}  // namespace

int writeRecord(ZdDbDataBase* database, char const* className, ZdDbObject* record, int mode) {
  if (database == nullptr || className == nullptr || record == nullptr) return 1;
  std::string table = getTableName(className);
  ZdDbFilter* filter = database->getFilter(0);
  if (!prepareRecordFilter(database, filter, record, table, mode)) return 1;

  if (record->writeFields(filter) != ZdDb::eOk || filter->status() != ZdDb::eOk) return 1;
  ZdDbHelper* runner = filter->runner();
  std::string sql = filter->statementText();
  if (runner->prepareSql(sql.c_str()) != ZdDb::eOk) return 1;

  filter->setPass(1);
  ZdDb::ErrorStatus status = record->writeFields(filter);
  if (status == ZdDb::eOk) status = runner->stepSql();
  runner->finalizeSql();
  return status == ZdDb::eOk ? 0 : 1;
}

bool cloneDatabaseFromRecord(Env& env, OVIXFileRecord* record, ZdDbDataBase* target) {
  if (record == nullptr || target == nullptr) return false;
  const std::string tempPath = programDirectory + "/" + kTempSqliteName;
  if (!record->saveStream(env, tempPath.c_str())) return false;

  DatabaseHandle temp(mallocDatabase(ZdDb::kSqliteFile));
  if (temp->openDB(tempPath.c_str(), 0, nullptr) != ZdDb::eOk) return false;

  target->addOpenFlag(2);
  std::string dbkey = escapeKeyText(std::string(record->dbkey() != nullptr ? record->dbkey() : ""));
  if (target->setDbkey(record->dbkey() != nullptr ? dbkey.c_str() : nullptr, temp->getDbSeed()) !=
      ZdDb::eOk) {
    target->clearOpenFlag(2);
    return false;
  }
  target->dbClone(temp.get(), true, nullptr);
  target->clearOpenFlag(2);
  if (ZdDbFilter* filter = target->getFilter(0)) filter->setState(4);

  temp.reset();
  env.removeFile(tempPath);
  return true;
}

bool isNewerPatchTime(int64_t packTime, int64_t than) {
  constexpr int64_t kNewerThanSeconds = 60;
  return packTime - than > kNewerThanSeconds;
}

OVIXPackageInfo* selectNewestHeader(ZdDbDataBase* database,
                                    std::vector<std::unique_ptr<ZdDbObject>>& headers) {
  ZdRxClass* cls = OVIXPackageInfo::desc();
  std::string sql = std::string("select * from ") + (cls != nullptr ? cls->name() : "OVIXPackageInfo");
  size_t first = headers.size();
  if (database == nullptr || cls == nullptr ||
      database->selectSql(sql.c_str(), cls, headers, 0) != ZdDb::eOk || headers.size() == first) {
    zdcom::errorMsg(zedaGetText_callbk("版本服务器中无版本信息记录"));
    return nullptr;
  }
  OVIXPackageInfo* best = nullptr;
  int64_t bestTime = 0;
  for (size_t i = first; i < headers.size(); ++i) {
    OVIXPackageInfo* header = OVIXPackageInfo::cast(headers[i].get());
    if (header == nullptr || header->depend()) continue;
    int64_t packTime = parseTimeString(header->packTime());
    if (isNewerPatchTime(packTime, bestTime)) {
      best = header;
      bestTime = packTime;
    }
  }
  return best;
}

std::string newGuidText() {
  unsigned char id[16];
  newGuidBytes(id);
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id[0],
                id[1], id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11],
                id[12], id[13], id[14], id[15]);
  return text;
}

KVParams makeColumnParam(char const* name) {
  KVParams param{name != nullptr ? name : "", "", {}};
  param.value.setText("");
  return param;
}

KVParams makeIntParam(char const* name, char const* second, int value) {
  KVParams param{name != nullptr ? name : "", second != nullptr ? second : "", {}};
  param.value.setInt(value);
  return param;
}

char const* rowText(const KVParams& cell) { return cell.value.textValue(); }

}  // namespace ovix
