#include "project/project_info.h"

#include "app/ini_file.h"
#include "app/working_files.h"
#include "package/package_file.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "server/server_connection.h"

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

bool projectInfoOk(Env& env, const std::string& address, const std::string& port,
                   const std::string& name) {
  std::string guid, lineTemp, error;
  if (!getProjectInfo(address.c_str(), port.c_str(), name.c_str(), &guid, &lineTemp, &error)) {
    zdcom::errorMsg(zedaGetText_callbk("未成功查询到项目信息：%s"), name.c_str());
    zdcom::noteMsg("%s", error.c_str());
    return false;
  }
  // A server's project name that is not a plain file name would put the
  // file outside the program directory.
  if (!isSingleFileName(name)) {
    zdcom::errorMsg(zedaGetText_callbk("项目名称%s不能用作文件名，无法生成项目信息文件"), name.c_str());
    return false;
  }
  const std::string path = projectInfoPath(name);
  IniFile ini;
  // A missing file is an empty document; an existing one that cannot be
  // read is left alone rather than replaced without its other content.
  if (!ini.load(env, path) && env.fileExists(path)) {
    zdcom::errorMsg(zedaGetText_callbk("不能读取文件%s"), path.c_str());
    return false;
  }
  ini.setValue("PatchProject", "GUID", guid.c_str());
  ini.setValue("PatchProject", "NAME", name.c_str());
  if (!ini.save(env, path)) {
    zdcom::errorMsg(zedaGetText_callbk("写入项目信息文件失败：%s"), path.c_str());
    return false;
  }
  zdcom::errorMsg(zedaGetText_callbk("生成项目信息文件成功，请发给软件开发商！\n文件名：%s"), path.c_str());
  return true;
}

}  // namespace ovix
