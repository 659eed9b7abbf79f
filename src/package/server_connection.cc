#include "package/server_connection.h"

#include <cctype>

#include "package/package_file.h"
#include "platform/csv.h"
#include "platform/env.h"
#include "platform/messages.h"
#include "platform/zeda_system.h"

namespace ovix {
namespace {

// A prefix of plain identifier characters, so that the names it makes stay
// plain identifiers; anything else is not used.
std::string databasePrefix() {
  std::optional<std::string> prefix = ovix::Env::Default()->getEnv(kDatabasePrefixVariable);
  if (!prefix || prefix->size() > kMaxDatabasePrefix) return "";
  for (char c : *prefix) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return "";
  }
  return *prefix;
}

// A handle of the project database type, opened with `flag` and `mode`;
// null, with *error (when given) saying why, when it cannot be opened.
ZdDbDataBase* openByText(const std::string& text, int flag, int mode, char const* third,
                         std::string* error = nullptr) {
  DatabaseHandle db(mallocDatabase(ZedaSystem::getProjectDbtype()));
  db->setOpenFlag(flag);
  if (db->pureOpenDB_2(text.c_str(), mode, third) != ZdDb::eOk) {
    if (error != nullptr) *error = db->lastError();
    return nullptr;
  }
  return db.release();
}

}  // namespace

std::string serverDatabaseName(const char* name) { return databasePrefix() + name; }

bool makeServerParams(std::vector<std::string>& list, char const* address, char const* port,
                      char const* database) {
  if (address == nullptr || *address == '\0' || port == nullptr || *port == '\0') return false;
  list.push_back(address);
  list.push_back(port);
  list.push_back(database != nullptr ? database : "");
  return true;
}

std::string connectionText(const std::vector<std::string>& list) { return zdcom::writeCsv(list); }

std::string connectionMessageForm(const std::string& text) {
  std::vector<std::string> fields;
  zdcom::readCsv(text.c_str(), fields);
  fields.resize(3);
  return zdcom::writeCsv(fields);
}

ZdDbDataBase* openOrCreatePatchStore(const std::vector<std::string>& list) {
  const std::string store = serverDatabaseName(kPatchStoreName);
  {
    std::unique_ptr<ZdDbFilter> filter = mallocDbFilter(ZedaSystem::getProjectDbtype());
    ZdDbHelper* runner = filter->runner();
    if (runner->openDB(connectionText(list).c_str(), 1) != ZdDb::eOk) {
      zdcom::noteMsg("%s", runner->lastError().c_str());
      return nullptr;
    }
    if (!runner->databaseExists(store) && runner->createDatabase(store) != ZdDb::eOk) {
      zdcom::errorMsg(zedaGetText_callbk("创建数据库失败：%s"), store.c_str());
      zdcom::noteMsg("%s", runner->lastError().c_str());
      return nullptr;
    }
  }
  std::vector<std::string> storeList = list;
  storeList.resize(3);
  storeList[2] = store;
  std::string error;
  ZdDbDataBase* db = openByText(connectionText(storeList), 16, 1, nullptr, &error);
  if (db == nullptr) zdcom::noteMsg("%s", error.c_str());
  return db;
}

ZdDbDataBase* openPatchStore(char const* address, char const* port) {
  std::vector<std::string> list;
  makeServerParams(list, address, port, serverDatabaseName(kPatchStoreName).c_str());
  std::string text = connectionText(list);
  std::string error;
  ZdDbDataBase* db = openByText(text, 16, 1, nullptr, &error);
  if (db == nullptr) {
    zdcom::errorMsg(zedaGetText_callbk("版本补丁数据库不存在:%s"), connectionMessageForm(text).c_str());
    zdcom::noteMsg("%s", error.c_str());
  }
  return db;
}

ZdDbDataBase* openServerDatabase(char const* address, char const* port,
                                 const std::string& database, int mode, std::string* error) {
  std::vector<std::string> list;
  if (!makeServerParams(list, address, port, database.c_str())) {
    if (error != nullptr) *error = "no server address or port";
    return nullptr;
  }
  return openByText(connectionText(list), 16, mode, nullptr, error);
}

bool checkAdministrator(char const* address, char const* port, char const* user,
                        char const* password) {
  if (address == nullptr || port == nullptr || user == nullptr || password == nullptr) return false;
  std::vector<std::string> list;
  makeServerParams(list, address, port, serverDatabaseName(kGeneralDbName).c_str());
  std::string text = connectionText(list);
  ZdDbSystem::setDefDbtype(ZedaSystem::getProjectDbtype());
  ZdDbSystem::setProjectConstr(text.c_str());

  std::string error;
  DatabaseHandle db(openByText(text, 0x4002, 0, "projectMan.zeda", &error));
  if (!db) {
    zdcom::errorMsg(zedaGetText_callbk("无法连接ovixgeneral数据库，mysql服务器为：%s"),
                    connectionMessageForm(text).c_str());
    zdcom::noteMsg("%s", error.c_str());
    return false;
  }
  std::string sql = "select m_pwd from " + getTableName("ZedaUser") + " where m_user=?";
  std::vector<std::vector<KVParams>> rows;
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_pwd")}, rows, {KVData::text(user)}) !=
          ZdDb::eOk ||
      rows.empty())
    return false;
  char const* stored = rowText(rows[0][0]);
  return stored != nullptr && std::string(stored) == password;
}

}  // namespace ovix
