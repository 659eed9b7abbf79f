#include "update/file_replacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "app/easy_log.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "platform/unique_fd.h"

namespace ovix {
namespace {

std::set<std::string>& madeDirectories() {
  static std::set<std::string> made;
  return made;
}

// Copies `from` to `to` through the Env, replacing `to`.
bool copyFile(Env& env, const std::string& from, const std::string& to) {
  std::unique_ptr<SequentialFile> in;
  std::unique_ptr<WritableFile> out;
  if (!env.newSequentialFile(from, &in) || !env.newWritableFile(to, WriteMode::kTruncate, &out))
    return false;
  std::vector<char> buf(1 << 20);
  for (;;) {
    size_t got = 0;
    if (!in->read(buf.data(), buf.size(), &got)) return false;
    if (got == 0) break;
    if (!out->append(buf.data(), got)) return false;
  }
  return out->sync() && out->close();
}

}  // namespace

void makeDirectoryOnce(Env& env, const std::string& path) {
  if (madeDirectories().insert(path).second) env.createDir(path);
}

void makeDirectoryChain(Env& env, const std::string& base, const std::string& relativeFile) {
  std::string directory = parentPath(keyToNativePath(relativeFile));
  if (directory.empty() || directory == "/") return;
  size_t start = 0;
  for (;;) {
    size_t end = directory.find('/', start);
    std::string prefix = directory.substr(0, end);
    if (!prefix.empty()) makeDirectoryOnce(env, joinPath(base, prefix));
    if (end == std::string::npos) return;
    start = end + 1;
  }
}

bool writeWholeFile(Env& env, const std::string& path, const void* data, size_t n) {
  std::unique_ptr<WritableFile> file;
  if (!env.newWritableFile(path, WriteMode::kTruncate, &file)) return false;
  bool ok = file->append(static_cast<const char*>(data), n);
  return file->close() && ok;
}

void syncFileSystemOf(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.valid()) ::syncfs(fd.get());
}

StagingFolder::~StagingFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool StagingFolder::create() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  std::filesystem::create_directories(path_, error);
  return env_.isDirectory(path_);
}

bool FileReplacer::backUp(const std::string& key, const std::string& target) {
  const std::string backup = joinPath(backupDir_, keyToNativePath(key));
  if (env_.fileExists(backup)) return true;  // the earliest bytes are kept
  makeDirectoryOnce(env_, parentPath(backupDir_));
  makeDirectoryOnce(env_, backupDir_);
  makeDirectoryChain(env_, backupDir_, key);
  // The old file is replaced by a rename, so its bytes can stay where they
  // are: a hard link is the backup.  Where links are not possible, a copy.
  std::error_code error;
  std::filesystem::create_hard_link(target, backup, error);
  if (!error) return true;
  const std::string temp = backup + ".part";
  if (copyFile(env_, target, temp) && env_.renameFile(temp, backup)) return true;
  env_.removeFile(temp);
  return false;
}

bool FileReplacer::replace(const std::string& key, const std::string& staged) {
  const std::string target = joinPath(installDir_, keyToNativePath(key));
  makeDirectoryChain(env_, installDir_, key);
  if (env_.fileExists(target) && !env_.isDirectory(target) && !backUp(key, target)) {
    zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法备份：%s"), target.c_str(),
                                    Env::lastError().c_str());
    return false;
  }
  if (!env_.renameFile(staged, target)) {
    zdcom::OVIXCommandLog::errorlog(
        zedaGetText_callbk("文件(%s)无法更新，请检查是不是被占用或已经打开"), target.c_str());
    return false;
  }
  replaced_.push_back(key);
  return true;
}

void FileReplacer::restoreAll() {
  for (const std::string& key : replaced_) {
    const std::string target = joinPath(installDir_, keyToNativePath(key));
    const std::string backup = joinPath(backupDir_, keyToNativePath(key));
    if (!env_.fileExists(backup)) continue;  // the file is new: nothing to put back
    const std::string temp = target + ".restore";
    if (copyFile(env_, backup, temp) && env_.renameFile(temp, target)) {
      print(runLog, "Restore file:%s", target.c_str());
    } else {
      env_.removeFile(temp);
      zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法恢复"), target.c_str());
    }
  }
  replaced_.clear();
}

}  // namespace ovix
