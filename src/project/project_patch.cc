#include "project/project_patch.h"

#include <vector>

#include "package/file_record_upload.h"
#include "package/package_file.h"
#include "package/package_signature.h"
#include "package/server_connection.h"
#include "platform/messages.h"
#include "platform/time_string.h"
#include "project/project_info.h"
#include "project/project_lock.h"

namespace ovix {
namespace {

bool patchAllProjects(Env& env, ZdDbDataBase* package, const OVIXPackageInfo& header,
                      const PackageSignature* signature, char const* address, char const* port) {
  if (!zdcom::goonMsg(zedaGetText_callbk("项目补丁包未指定项目，将对所有项目进行补丁，要继续吗？")))
    return false;
  std::vector<std::string> projects;
  if (!listProjects(address, port, &projects)) {
    zdcom::errorMsg(zedaGetText_callbk("查询服务器上的项目库列表失败：ip:%s,port:%s"), address, port);
    return false;
  }
  for (const std::string& project : projects) {
    if (!patchOneProject(env, package, address, port, project.c_str(), signature)) return false;
    updateLineTemp(address, port, project.c_str(), header.skey());
  }
  return true;
}

bool patchNamedProject(Env& env, ZdDbDataBase* package, const OVIXPackageInfo& header,
                       const PackageSignature* signature, const std::string& packagePath,
                       char const* address, char const* port) {
  char const* project = header.projId();
  char const* guid = header.projGuid();
  if (guid == nullptr || *guid == '\0') {
    zdcom::errorMsg(zedaGetText_callbk("补丁包%s有错，请联系技术支持人员！"), packagePath.c_str());
    return false;
  }
  std::string serverGuid, mark;
  if (!getProjectInfo(address, port, project, &serverGuid, &mark)) {
    zdcom::errorMsg(zedaGetText_callbk("服务器无名称为%s的项目库，检查IP及端口，或咨询技术支持！"), project);
    return false;
  }
  if (serverGuid != guid) {
    zdcom::errorMsg(
        zedaGetText_callbk("服务器上的项目(%s)，其GUID与补丁中指定项目的GUID不同，请联系技术支持！"), project);
    return false;
  }
  if (markTime(mark) >= parseTimeString(header.packTime())) {
    zdcom::errorMsg(zedaGetText_callbk("服务器上的项目已经是最新的，不需要补丁"));
    return false;
  }
  if (!patchOneProject(env, package, address, port, project, signature)) return false;
  updateLineTemp(address, port, project, header.skey());
  return true;
}

}  // namespace

int64_t markTime(const std::string& mark) {
  return mark.size() < 4 ? 0 : parseTimeString(mark.c_str() + 3);
}

bool applyProjectPatch(Env& env, const std::string& packagePath, char const* address,
                       char const* port) {
  DatabaseHandle package(openPackageFile(packagePath.c_str()));
  if (!package) {
    zdcom::noteMsg(zedaGetText_callbk("无法打开补丁包%s"), packagePath.c_str());
    return false;
  }
  std::unique_ptr<OVIXPackageInfo> header = readUploadHeader(package.get());
  if (!header || !checkUploadRecords(package.get())) return false;
  PackageSignature signature;
  std::string why;
  if (!signatureForServer(env, package.get(), *header, &signature, &why)) {
    zdcom::errorMsg(zedaGetText_callbk("项目补丁包%s没有通过签名校验：%s，补丁被拒绝"),
                    packagePath.c_str(), why.c_str());
    return false;
  }
  const PackageSignature* carried = signature.manifest.empty() ? nullptr : &signature;
  char const* project = header->projId();
  if (project == nullptr || *project == '\0')
    return patchAllProjects(env, package.get(), *header, carried, address, port);
  return patchNamedProject(env, package.get(), *header, carried, packagePath, address, port);
}

bool patchOneProject(Env& env, ZdDbDataBase* package, char const* address, char const* port,
                     char const* project, const PackageSignature* signature) {
  // Without a name the connection would reach the server itself, not a
  // project.
  if (project == nullptr || *project == '\0') return false;
  std::string error;
  DatabaseHandle target(openServerDatabase(address, port, project, 1, &error));
  if (!target) {
    zdcom::noteMsg(zedaGetText_callbk("无法打开项目数据库%s：%s"), project, error.c_str());
    return false;
  }
  char const* holderText = zdcom::printMsg(zedaGetText_callbk("用户正在进行对项目(%s)进行补丁"), project);
  zdcom::AutoProjectLock lock(target.get(), "nothing", holderText, env);
  if (!lock.locked()) {
    zdcom::errorMsg("%s", lock.failure().c_str());
    return false;
  }
  return uploadFileRecords(env, package, target.get(), kProjectConfigTable,
                           OVIXFileRecord::desc()->name(), signature);
}

bool updateLineTemp(char const* address, char const* port, char const* project, char const* mark) {
  DatabaseHandle general(openServerDatabase(address, port, serverDatabaseName(kGeneralDbName), 0));
  if (!general) return false;
  std::string sql = "update " + getTableName("ZedaProject") + " set m_lineTemp=? where m_projId=?";
  general->exeSql(sql.c_str(), {KVData::text(mark), KVData::text(project)});
  return true;
}

}  // namespace ovix
