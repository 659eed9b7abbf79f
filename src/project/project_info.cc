#include "project/project_info.h"

#include "package/package_file.h"
#include "package/server_connection.h"
#include "platform/messages.h"
#include "platform/path_text.h"

namespace ovix {
namespace {

DatabaseHandle openGeneral(char const* address, char const* port, std::string* error) {
  return DatabaseHandle(
      openServerDatabase(address, port, serverDatabaseName(kGeneralDbName), 0, error));
}

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

bool listProjects(char const* address, char const* port, std::vector<std::string>* names,
                  std::string* error) {
  DatabaseHandle db = openGeneral(address, port, error);
  if (!db) return false;
  std::string sql = "select m_projId from " + getTableName("ZedaProject");
  std::vector<std::vector<KVParams>> rows;
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_projId")}, rows) != ZdDb::eOk) {
    setError(error, db->lastError());
    return false;
  }
  std::vector<std::string> found;
  for (const auto& row : rows) {
    char const* name = rowText(row[0]);
    if (name != nullptr && *name != '\0') found.push_back(name);
  }
  if (found.empty()) {
    setError(error, "the server lists no project");
    return false;
  }
  names->insert(names->end(), found.begin(), found.end());
  return true;
}

bool getProjectInfo(char const* address, char const* port, char const* name, std::string* guid,
                    std::string* lineTemp, std::string* error) {
  if (name == nullptr || *name == '\0') {
    setError(error, "no project name");
    return false;
  }
  DatabaseHandle db = openGeneral(address, port, error);
  if (!db) return false;
  std::string sql =
      "select m_lineTemp,m_projGuid from " + getTableName("ZedaProject") + " where m_projId=? limit 0,1";
  std::vector<std::vector<KVParams>> rows;
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_lineTemp"), makeColumnParam("m_projGuid")}, rows,
                    {KVData::text(name)}) != ZdDb::eOk) {
    setError(error, db->lastError());
    return false;
  }
  if (rows.empty()) {
    setError(error, std::string("the server has no project named ") + name);
    return false;
  }
  char const* mark = rowText(rows[0][0]);
  char const* projectGuid = rowText(rows[0][1]);
  *guid = projectGuid != nullptr ? projectGuid : "";
  *lineTemp = mark != nullptr ? mark : "";
  return true;
}

}  // namespace ovix
