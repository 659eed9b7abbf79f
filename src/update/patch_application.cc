#include "update/patch_application.h"

#include <fcntl.h>
#include <unistd.h>

#include <set>

#include "app/easy_log.h"
#include "app/ini_file.h"
#include "app/setup_file.h"
#include "app/time_string.h"
#include "package/package_file.h"
#include "platform/command_log.h"
#include "platform/crc.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "platform/presenter.h"
#include "platform/unique_fd.h"
#include "server/server_connection.h"
#include "update/file_replacement.h"

namespace ovix {
namespace {

constexpr int64_t kNewerThanSeconds = 60;

std::string text(char const* value) { return value != nullptr ? value : ""; }

// What applying one record does to the installation.
struct Planned {
  std::string key;
  std::string staged;  // the fetched bytes, or "" when the file is left alone
};

void reportPackageFailed() {
  zdcom::errorMsg(zedaGetText_callbk("补丁更新失败，已经恢复原始文件，请查看日志！"));
}

// Every key of the package's table; false (reported) when one would leave
// the installation.  *count receives the number of records.
bool checkKeys(ZdDbDataBase* db, const std::string& table, size_t* count) {
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select m_skey from " + zddb::quoteIdentifier(table);
  *count = 0;
  if (db->selectSql(sql.c_str(), {makeColumnParam("m_skey")}, rows) != ZdDb::eOk) return true;
  *count = rows.size();
  for (const auto& row : rows) {
    std::string key = text(rowText(row[0]));
    if (!isSafePackageKey(key)) {
      zdcom::errorMsg(zedaGetText_callbk("补丁中的文件路径%s不在安装目录之内，补丁被拒绝"), key.c_str());
      return false;
    }
  }
  return true;
}

// True when the file at `path` holds exactly `size` bytes with CRC `crcText`.
bool holdsBytes(Env& env, const std::string& path, int64_t size, const std::string& crcText) {
  std::optional<uint64_t> actual = env.fileSize(path);
  if (!actual || static_cast<int64_t>(*actual) != size) return false;
  return crc::crc32_file_str(env, path) == crcText;
}

// How fetching one record ended.
enum class Fetched { kDone, kEmpty, kCorrupt, kUnreadable, kUnwritable };

Fetched stageLent(Env& env, const ZdDbBlock& bytes, char const* storedCrc, const std::string& target,
                  const std::string& stagedPath, bool* staged) {
  const std::string crcText =
      crc::crc32_text(crc::crc32_update(0, bytes.data, static_cast<size_t>(bytes.size)));
  if (storedCrc != nullptr && *storedCrc != '\0' && crcText != storedCrc) return Fetched::kCorrupt;
  if (holdsBytes(env, target, bytes.size, crcText)) return Fetched::kDone;
  if (!writeWholeFile(env, stagedPath, bytes.data, static_cast<size_t>(bytes.size)))
    return Fetched::kUnwritable;
  *staged = true;
  return Fetched::kDone;
}

// A value too large to lend goes to its staged file in chunks, checked as
// it passes.  A file that already holds the recorded bytes is not fetched.
Fetched stageStreamed(Env& env, zddb::BlobSource* source, char const* storedCrc,
                      const std::string& target, const std::string& stagedPath, bool* staged) {
  const int64_t size = source->size();
  const bool hasCrc = storedCrc != nullptr && *storedCrc != '\0';
  if (hasCrc && holdsBytes(env, target, size, storedCrc)) return Fetched::kDone;
  std::unique_ptr<WritableFile> file;
  if (!env.newWritableFile(stagedPath, WriteMode::kTruncate, &file)) return Fetched::kUnwritable;
  std::vector<char> chunk(1 << 20);
  uint32_t crc = 0;
  int64_t done = 0;
  Fetched outcome = Fetched::kDone;
  while (outcome == Fetched::kDone && done < size) {
    size_t got = 0;
    if (!source->read(chunk.data(), chunk.size(), &got) || got == 0) {
      outcome = Fetched::kUnreadable;
    } else if (!file->append(chunk.data(), got)) {
      outcome = Fetched::kUnwritable;
    } else {
      crc = crc::crc32_update(crc, chunk.data(), got);
      done += static_cast<int64_t>(got);
    }
  }
  if (!file->close() && outcome == Fetched::kDone) outcome = Fetched::kUnwritable;
  const std::string crcText = crc::crc32_text(crc);
  if (outcome == Fetched::kDone && hasCrc && crcText != storedCrc) outcome = Fetched::kCorrupt;
  if (outcome == Fetched::kDone && (hasCrc || !holdsBytes(env, target, size, crcText))) {
    *staged = true;
    return outcome;
  }
  env.removeFile(stagedPath);
  return outcome;
}

// Logs why a record could not be fetched; true when the package can go on.
bool reportFetched(Fetched outcome, const std::string& target) {
  switch (outcome) {
    case Fetched::kDone:
      return true;
    case Fetched::kEmpty:
      zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法更新，服务器上下载的数据为空"),
                                      target.c_str());
      return true;
    case Fetched::kCorrupt:
      zdcom::OVIXCommandLog::errorlog(
          zedaGetText_callbk("文件(%s)的数据与校验码不符，服务器上的数据已损坏"), target.c_str());
      return false;
    case Fetched::kUnreadable:
      zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)的数据无法从服务器上读入"),
                                      target.c_str());
      return false;
    case Fetched::kUnwritable:
      zdcom::OVIXCommandLog::errorlog(
          zedaGetText_callbk("文件(%s)无法更新，请检查是不是被占用或已经打开"), target.c_str());
      return false;
  }
  return false;
}

// Fetches every record of the package into the staging folder, checked
// against its CRC, counting the `total` records on the progress display.
// False (logged) on a read, CRC or write failure, and when the user
// cancelled (*cancelled set).
bool fetchPackage(Env& env, ZdDbDataBase* db, const std::string& table, const std::string& installDir,
                  const std::string& stagingDir, size_t total, std::vector<Planned>* plan,
                  bool* cancelled) {
  static constexpr char kWhat[] = "下载补丁";
  zdcom::Presenter& presenter = zdcom::currentPresenter();
  *cancelled = !presenter.progress(kWhat, 0, total);
  if (*cancelled) return false;
  size_t fetched = 0;
  bool ok = true;
  std::string sql = "select * from " + zddb::quoteIdentifier(table);
  ZdDb::ErrorStatus status = db->selectEach(
      // The bytes stay where they arrived: lent by the statement, or
      // streamed from the server's row when they are large.  One copy of
      // the largest file is all the memory a patch needs.
      sql.c_str(), OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kStream,
      [&](std::unique_ptr<ZdDbObject>& object) {
        OVIXFileRecord* record = OVIXFileRecord::cast(object.get());
        if (record == nullptr) return true;
        std::string key = text(record->skey());
        std::string target = joinPath(installDir, keyToNativePath(key));
        const std::string stagedPath = joinPath(stagingDir, "f" + std::to_string(plan->size()));
        bool staged = false;
        const ZdDbBlock& bytes = record->stream();
        std::unique_ptr<zddb::BlobSource> source;
        if (bytes.data == nullptr) source = db->currentRowBlob("m_stream");
        Fetched outcome = Fetched::kEmpty;
        if (source && source->size() > 0) {
          outcome = stageStreamed(env, source.get(), record->crc(), target, stagedPath, &staged);
        } else if (bytes.size > 0 && bytes.data != nullptr) {
          outcome = stageLent(env, bytes, record->crc(), target, stagedPath, &staged);
        }
        if (!reportFetched(outcome, target)) {
          ok = false;
          return false;
        }
        if (outcome == Fetched::kEmpty) return true;
        plan->push_back({key, staged ? stagedPath : std::string()});
        if (!presenter.progress(kWhat, ++fetched, total)) {
          *cancelled = true;
          ok = false;
          return false;
        }
        return true;
      });
  presenter.progress(kWhat, total, total);
  if (*cancelled) return false;
  if (status != ZdDb::eOk && ok) {
    zdcom::errorMsg(zedaGetText_callbk("无法从服务器上读入补丁数据，请查看服务器连接"));
    return false;
  }
  return ok;
}

}  // namespace

bool isSafePackageKey(const std::string& key) {
  if (key.empty() || key.find('\0') != std::string::npos) return false;
  if (key[0] == '\\' || key[0] == '/') return false;     // absolute or UNC
  if (key.find(':') != std::string::npos) return false;  // drive letter or stream name
  size_t start = 0;
  for (;;) {
    size_t end = key.find_first_of("\\/", start);
    std::string part = key.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

OVIXPackageInfo* findNewerPatch(char const* version, char const* name, char const* installedDate,
                                ZdDbDataBase* db, std::vector<std::unique_ptr<ZdDbObject>>& headers,
                                std::vector<OVIXPackageInfo*>* dependents) {
  std::string sql = std::string("select * from ") + OVIXPackageInfo::desc()->name();
  size_t first = headers.size();
  if (db == nullptr || db->selectSql(sql.c_str(), OVIXPackageInfo::desc(), headers, 0) != ZdDb::eOk ||
      headers.size() == first) {
    zdcom::errorMsg(zedaGetText_callbk("版本服务器中无版本信息记录"));
    return nullptr;
  }
  OVIXPackageInfo* best = nullptr;
  int64_t bestTime = parseTimeString(installedDate);
  for (size_t i = first; i < headers.size(); ++i) {
    OVIXPackageInfo* h = OVIXPackageInfo::cast(headers[i].get());
    if (h == nullptr || !h->isSameProduct(name, version) || h->depend()) continue;
    int64_t packTime = parseTimeString(h->packTime());
    if (packTime - bestTime > kNewerThanSeconds) {
      best = h;
      bestTime = packTime;
    }
  }
  if (best == nullptr) {
    print(runLog, zedaGetText_callbk("当前系统的版本或补丁日期为%s，版本数据库中没有比之更新的补丁"),
          text(installedDate).c_str());
    zdcom::noteMsg(zedaGetText_callbk("当前系统的版本或补丁日期为%s，版本数据库中没有比之更新的补丁"),
                   text(installedDate).c_str());
    return nullptr;
  }
  if (best->guid() == nullptr) return best;
  for (size_t i = first; i < headers.size(); ++i) {
    OVIXPackageInfo* h = OVIXPackageInfo::cast(headers[i].get());
    if (h == nullptr || h->dependGuid() == nullptr || !h->isSameProduct(name, version) ||
        !h->depend())
      continue;
    if (parseTimeString(h->packTime()) - bestTime > kNewerThanSeconds &&
        std::string(h->dependGuid()) == best->guid())
      dependents->push_back(h);
  }
  return best;
}

bool findSetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir,
                      std::vector<std::unique_ptr<ZdDbObject>>& headers, OVIXPackageInfo** base,
                      std::vector<OVIXPackageInfo*>* dependents, bool* writeAll) {
  IniFile setup;
  setup.load(env, setupFilePath(installDir));
  char const* name = setup.getValue(kSetupSection, "NAME");
  *writeAll = false;
  if (name == nullptr) {
    *base = selectNewestHeader(db, headers);
    if (*base == nullptr) return false;
    *writeAll = true;
    return true;
  }
  char const* patch = setup.getValue(kSetupSection, "PATCH");
  std::string installed = patch != nullptr ? installedPatchDate(patch)
                                           : text(setup.getValue(kSetupSection, "BUILDTIME"));
  // A setup file without VERSION names no product that a header matches.
  std::string version = text(setup.getValue(kSetupSection, "VERSION"));
  *base = findNewerPatch(version.c_str(), name, installed.c_str(), db, headers, dependents);
  return *base != nullptr;
}

bool applyPackage(Env& env, ZdDbDataBase* db, OVIXPackageInfo* header, const std::string& installDir) {
  if (db == nullptr || header == nullptr || header->skey() == nullptr || installDir.empty()) return false;
  const std::string table = text(header->refTblname());
  const std::string packageKey = header->skey();
  if (!zddb::isPlainIdentifier(table) || !isSafePackageKey(packageKey)) {
    zdcom::errorMsg(zedaGetText_callbk("无法从服务器上读入补丁数据，请查看服务器连接"));
    return false;
  }
  size_t records = 0;
  if (!checkKeys(db, table, &records)) return false;

  const std::string backupDir = joinPath(joinPath(installDir, "patch"), packageKey);
  const std::string stagingDir = joinPath(joinPath(installDir, "patch"), ".staging-" + packageKey);
  StagingFolder staging(env, stagingDir);
  std::vector<Planned> plan;
  bool cancelled = false;
  if (!staging.create() ||
      !fetchPackage(env, db, table, installDir, stagingDir, records, &plan, &cancelled)) {
    // Nothing of the installation was touched.
    if (cancelled) {
      zdcom::errorMsg(zedaGetText_callbk("已取消下载补丁，安装目录没有任何改动"));
    } else {
      reportPackageFailed();
    }
    return false;
  }
  // The fetched bytes are on disk before any of them takes a file's place.
  syncFileSystemOf(stagingDir);

  FileReplacer replacer(env, installDir, backupDir);
  for (const Planned& item : plan) {
    if (item.staged.empty()) continue;  // already holds the package's bytes
    print(runLog, "Update file:%s", joinPath(installDir, keyToNativePath(item.key)).c_str());
    if (!replacer.replace(item.key, item.staged)) {
      replacer.restoreAll();
      reportPackageFailed();
      return false;
    }
  }
  syncFileSystemOf(installDir);
  return true;
}

bool applySetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir) {
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  OVIXPackageInfo* base = nullptr;
  std::vector<OVIXPackageInfo*> dependents;
  bool writeAll = false;
  if (!findSetupPatches(env, db, installDir, headers, &base, &dependents, &writeAll)) return false;
  if (!applyPackage(env, db, base, installDir)) return false;
  for (OVIXPackageInfo* dependent : dependents) {
    if (!applyPackage(env, db, dependent, installDir)) return false;
  }
  IniFile setup;
  setup.load(env, setupFilePath(installDir));
  if (writeAll) {
    setup.setValue(kSetupSection, "NAME", base->name());
    setup.setValue(kSetupSection, "VERSION", base->ver());
    setup.setValue(kSetupSection, "KERNELTIME", base->kernalTime());
    setup.setValue(kSetupSection, "BUILDTIME", base->verTime());
  }
  setup.setValue(kSetupSection, "PATCH", base->skey());
  return setup.save(env, setupFilePath(installDir));
}

namespace {

using StoreStep = bool (*)(Env&, ZdDbDataBase*, const std::string&);

bool withPatchStore(Env& env, char const* installDir, char const* ip, char const* port, StoreStep step) {
  if (installDir == nullptr || ip == nullptr || port == nullptr) return false;
  DatabaseHandle db(openPatchStore(ip, port));
  if (!db) return false;  // reported by openPatchStore
  return step(env, db.get(), installDir);
}

bool checkStep(Env& env, ZdDbDataBase* db, const std::string& installDir) {
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  OVIXPackageInfo* base = nullptr;
  std::vector<OVIXPackageInfo*> dependents;
  bool writeAll = false;
  return findSetupPatches(env, db, installDir, headers, &base, &dependents, &writeAll);
}

}  // namespace

bool openPatchStoreAndCheck(Env& env, char const* installDir, char const* ip, char const* port) {
  return withPatchStore(env, installDir, ip, port, &checkStep);
}

bool openPatchStoreAndApply(Env& env, char const* installDir, char const* ip, char const* port) {
  return withPatchStore(env, installDir, ip, port, &applySetupPatches);
}

}  // namespace ovix
