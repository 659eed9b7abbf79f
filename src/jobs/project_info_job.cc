#include "jobs/project_info_job.h"

#include "app/ini_file.h"
#include "app/working_files.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "project/project_info.h"

namespace ovix {

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
    zdcom::errorMsg(zedaGetText_callbk("写入项目信息文件失败：%s"), Env::lastError().c_str());
    return false;
  }
  zdcom::errorMsg(zedaGetText_callbk("生成项目信息文件成功，请发给软件开发商！\n文件名：%s"), path.c_str());
  return true;
}

}  // namespace ovix
