#include "update/file_replacement.h"

#include "app/easy_log.h"
#include "platform/command_log.h"
#include "platform/messages.h"
#include "platform/path_text.h"

namespace ovix {
namespace {

constexpr char kStagingPrefix[] = ".staging-";
constexpr char kSetAsidePrefix[] = ".trash-";
// A file that was in use when it was replaced, moved out of the way.
constexpr char kInUsePrefix[] = ".in-use-";
// Beside a backup folder "patch/<key>": the backups of a run that
// completed.  It stands beside the folder rather than in it, so that no
// file of the package, whose backup lies in the folder under its own
// path, can ever be taken for it.
constexpr char kCompletedSuffix[] = ".completed";
constexpr size_t kCopyChunkBytes = 1 << 20;

// Copies the regular file `from` to the new file `to` and flushes it.
bool copyBytes(DirectoryTree& tree, const std::string& from, const std::string& to) {
  std::unique_ptr<SequentialFile> in;
  std::unique_ptr<WritableFile> out;
  if (!tree.openForReading(from, &in) || !tree.createFile(to, &out)) return false;
  std::vector<char> buf(kCopyChunkBytes);
  for (;;) {
    size_t got = 0;
    if (!in->read(buf.data(), buf.size(), &got)) return false;
    if (got == 0) break;
    if (!out->append(buf.data(), got)) return false;
  }
  return out->sync() && out->close();
}

// Makes `to` hold what stands at `from`: a link as a link with the same
// target, a regular file as a copy of its bytes.  `to` must not exist.
bool duplicateEntry(DirectoryTree& tree, const std::string& from, const std::string& to) {
  if (tree.kind(from) == EntryKind::kLink) {
    std::string target;
    return tree.readLink(from, &target) && tree.createLink(target, to);
  }
  return copyBytes(tree, from, to);
}

// Puts a duplicate of `from` in place of `to` through a fresh temporary
// name beside `to`, so `to` is replaced whole by a rename.
bool replaceWithDuplicate(DirectoryTree& tree, const std::string& from, const std::string& to,
                          const char* tempSuffix) {
  const std::string temp = to + uniqueSuffix() + tempSuffix;
  if (duplicateEntry(tree, from, temp) && tree.rename(temp, to)) return true;
  std::string reason = Env::lastError();
  tree.removeFile(temp);
  setLastError(std::move(reason));
  return false;
}

// Makes the folders of `file` below `base`; false when one cannot be made
// (a link on the way above all).
bool makeDirectoryChain(DirectoryTree& tree, const std::string& base, const std::string& file,
                        std::vector<std::string>* made) {
  const std::string directory = parentPath(joinPath(base, file));
  return directory.empty() || tree.createDirectories(directory, made);
}

}  // namespace

StagingFolder::~StagingFolder() {
  if (!path_.empty()) tree_.removeTree(path_);
}

bool StagingFolder::create() {
  if (!tree_.createDirectories(kPatchFolder, nullptr)) return false;
  std::vector<std::string> made;
  const std::string path = joinPath(kPatchFolder, kStagingPrefix + prefix_ + uniqueSuffix());
  if (!tree_.createDirectories(path, &made)) return false;
  if (made.empty()) {  // someone else's folder of the same name
    setLastError("mkdir " + path + ": exists already");
    return false;
  }
  path_ = path;
  return true;
}

void removeLeftoversOfEarlierRuns(DirectoryTree& tree) {
  std::vector<std::string> names;
  if (tree.kind(kPatchFolder) != EntryKind::kDirectory || !tree.list(kPatchFolder, &names)) return;
  for (const std::string& name : names) {
    if (name.rfind(kStagingPrefix, 0) == 0 || name.rfind(kSetAsidePrefix, 0) == 0 ||
        name.rfind(kInUsePrefix, 0) == 0)
      tree.removeTree(joinPath(kPatchFolder, name));  // one still in use stays till later
  }
}

bool writeNewFile(DirectoryTree& tree, const std::string& path, const void* data, size_t n) {
  std::unique_ptr<WritableFile> file;
  if (!tree.createFile(path, &file)) return false;
  bool ok = file->append(static_cast<const char*>(data), n);
  return file->close() && ok;
}

bool FileReplacer::backUp(const std::string& path) {
  const std::string backup = joinPath(backupDir_, path);
  if (!makeDirectoryChain(tree_, backupDir_, path, nullptr)) return false;
  if (tree_.kind(backup) != EntryKind::kMissing) return true;  // the earliest bytes are kept
  // The old file is replaced by a rename, so its bytes can stay where they
  // are: a hard link is the backup.  Where links are not possible, a copy
  // (of a link: the link itself, never the file it points to).
  if (tree_.hardLink(path, backup)) return true;
  return replaceWithDuplicate(tree_, path, backup, ".part");
}

bool FileReplacer::replace(const std::string& path, const std::string& staged) {
  makeDirectoryChain(tree_, "", path, &madeDirectories_);
  const EntryKind before = tree_.kind(path);
  const bool existed = before == EntryKind::kFile || before == EntryKind::kLink;
  if (existed && !backUp(path)) {
    zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法备份：%s"), path.c_str(),
                                    Env::lastError().c_str());
    return false;
  }
  if (!tree_.rename(staged, path) && !(existed && replaceInUse(path, staged))) {
    zdcom::OVIXCommandLog::errorlog(
        zedaGetText_callbk("文件(%s)无法更新，请检查是不是被占用或已经打开"), path.c_str());
    return false;
  }
  replaced_.push_back({path, existed});
  return true;
}

// Windows refuses to replace a file that is open (a running program, a
// loaded library) but lets it be moved.  The file goes into "patch" (its
// bytes are in the backup already), the staged file takes its place, and
// the moved file is removed now or, while it is still in use, by a later
// run (removeLeftoversOfEarlierRuns).
bool FileReplacer::replaceInUse(const std::string& path, const std::string& staged) {
  const std::string aside = joinPath(kPatchFolder, kInUsePrefix + baseName(path) + uniqueSuffix());
  if (!tree_.rename(path, aside)) return false;
  if (!tree_.rename(staged, path)) {
    std::string reason = Env::lastError();
    tree_.rename(aside, path);
    setLastError(std::move(reason));
    return false;
  }
  print(runLog, "File in use moved aside:%s", path.c_str());
  tree_.removeFile(aside);
  return true;
}

bool FileReplacer::putBack(const std::string& path) {
  const std::string backup = joinPath(backupDir_, path);
  if (tree_.kind(backup) == EntryKind::kMissing) return false;
  return replaceWithDuplicate(tree_, backup, path, ".restore");
}

void FileReplacer::restoreAll() {
  for (const Replaced& file : replaced_) {
    if (!file.existed) {
      // The package brought the file: it goes with the package.
      if (tree_.removeFile(file.path)) print(runLog, "Remove file:%s", file.path.c_str());
      continue;
    }
    if (putBack(file.path)) {
      print(runLog, "Restore file:%s", file.path.c_str());
    } else {
      zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法恢复"), file.path.c_str());
    }
  }
  replaced_.clear();
  // Innermost first; a folder that holds anything else stays.
  for (auto it = madeDirectories_.rbegin(); it != madeDirectories_.rend(); ++it)
    tree_.removeDirectory(*it);
  madeDirectories_.clear();
}

bool markBackupsCompleted(DirectoryTree& tree, const std::string& backupDir) {
  const std::string marker = backupDir + kCompletedSuffix;
  if (tree.kind(marker) != EntryKind::kMissing) return true;
  return writeNewFile(tree, marker, "", 0) && tree.syncDirectory(parentPath(marker));
}

bool startFreshBackupsIfCompleted(DirectoryTree& tree, const std::string& backupDir) {
  const std::string marker = backupDir + kCompletedSuffix;
  if (tree.kind(marker) == EntryKind::kMissing) return true;
  // Set aside in one rename before the marker goes, so a crash never
  // leaves old backups that a resumed run would take for its own.
  const std::string aside =
      joinPath(kPatchFolder, kSetAsidePrefix + baseName(backupDir) + uniqueSuffix());
  if (tree.kind(backupDir) != EntryKind::kMissing && !tree.rename(backupDir, aside)) {
    zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("备份目录(%s)无法更新：%s"),
                                    backupDir.c_str(), Env::lastError().c_str());
    return false;
  }
  tree.removeTree(aside);
  return tree.removeFile(marker);
}

}  // namespace ovix
