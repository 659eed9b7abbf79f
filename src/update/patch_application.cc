#include "update/patch_application.h"

#include <algorithm>
#include <set>

#include "app/easy_log.h"
#include "app/ini_file.h"
#include "app/setup_file.h"
#include "package/file_key.h"
#include "package/hash_worker.h"
#include "package/package_file.h"
#include "package/package_signature.h"
#include "package/server_connection.h"
#include "platform/command_log.h"
#include "platform/crc.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "platform/presenter.h"
#include "platform/time_string.h"
#include "update/file_replacement.h"
#include "update/installation_lock.h"

namespace ovix {
namespace {

constexpr size_t kStreamChunkBytes = 1 << 20;

std::string text(char const* value) { return value != nullptr ? value : ""; }

// What applying one record does to the installation.
struct Planned {
  std::string path;    // relative to the installation, native separators
  std::string staged;  // the fetched bytes, or "" when the file is left alone
};

// How applying a package ended.  Every outcome but kFailed has shown its
// own message; kFailed (logged) still needs the package-failed message.
enum class Applied { kDone, kFailed, kRefused, kUnreadable, kCancelled };

void reportPackageFailed() {
  zdcom::errorMsg(zedaGetText_callbk("补丁更新失败，已经恢复原始文件，请查看日志！"));
}

void reportUnreadable() {
  zdcom::errorMsg(zedaGetText_callbk("无法从服务器上读入补丁数据，请查看服务器连接"));
}

// How fetching one record ended.
enum class Fetched { kDone, kEmpty, kCorrupt, kNotSigned, kUnreadable, kUnwritable };

// The checks a file's bytes pass while they stream: the record's CRC and,
// for a signed package, the signed size and hash.  With a worker the hash
// runs beside whatever the caller does next with the bytes; a check with a
// worker is never moved, and waits for it when it ends.
class BytesCheck {
 public:
  BytesCheck(const std::string& crcText, const ManifestEntry* signedFile,
             HashWorker* worker = nullptr)
      : crcText_(crcText), signed_(signedFile), worker_(worker) {}
  ~BytesCheck() {
    if (worker_ != nullptr) worker_->wait();
  }

  // `data` stays unchanged until the next update or verdict (see HashWorker).
  void update(const char* data, size_t size) {
    // Handed over before the CRC is taken, so that the two run side by side.
    if (signed_ != nullptr && worker_ != nullptr) worker_->feed(&hasher_, data, size);
    if (signed_ != nullptr && worker_ == nullptr) hasher_.update(data, size);
    crc_ = crc::crc32_update(crc_, data, size);
    size_ += size;
  }
  bool crcMatches() const { return sameCrc(crc::crc32_text(crc_), crcText_); }
  // kDone, kCorrupt or kNotSigned; called once, after the last update.
  Fetched verdict() {
    if (worker_ != nullptr) worker_->wait();
    if (!crcMatches()) return Fetched::kCorrupt;
    if (signed_ != nullptr && (size_ != signed_->size || hasher_.finish() != signed_->hash))
      return Fetched::kNotSigned;
    return Fetched::kDone;
  }

 private:
  const std::string& crcText_;
  const ManifestEntry* signed_;
  HashWorker* worker_;
  uint32_t crc_ = 0;
  uint64_t size_ = 0;
  ContentHasher hasher_;
};

// True when the installation's file `path` holds exactly `size` bytes that
// pass `check`.  A link at the path never does.
bool fileMatches(DirectoryTree& tree, const std::string& path, int64_t size, BytesCheck check) {
  uint64_t actual = 0;
  if (tree.kind(path, &actual) != EntryKind::kFile || static_cast<int64_t>(actual) != size)
    return false;
  std::unique_ptr<SequentialFile> file;
  if (!tree.openForReading(path, &file)) return false;
  // Most files are small: a buffer of their size, not of a whole chunk.
  std::vector<char> chunk(static_cast<size_t>(std::clamp<int64_t>(size, 1, kStreamChunkBytes)));
  for (;;) {
    size_t got = 0;
    if (!file->read(chunk.data(), chunk.size(), &got)) return false;
    if (got == 0) break;
    check.update(chunk.data(), got);
  }
  return check.verdict() == Fetched::kDone;
}

// True when the installation's file `path` already holds the record's
// bytes: its size and CRC and, for a signed package, the signed hash.  The
// file is hashed only when all else matched, which is rare (a run that
// resumes), so an update does not hash every file it replaces.
bool holdsBytes(DirectoryTree& tree, const std::string& path, int64_t size,
                const std::string& crcText, const ManifestEntry* signedFile) {
  return fileMatches(tree, path, size, BytesCheck(crcText, nullptr)) &&
         (signedFile == nullptr || fileMatches(tree, path, size, BytesCheck(crcText, signedFile)));
}

// Where one record's bytes go and what they must be.
struct Staging {
  const std::string& target;      // the installation's file
  const std::string& stagedPath;  // the staging file
  const std::string& storedCrc;
  const ManifestEntry* signedFile;  // null for an unsigned package
};

// Bytes lent by the statement: hashed while the installed file is compared
// and the staged one written, and refused (the staged file removed) when
// they are not the signed ones.
Fetched stageLent(DirectoryTree& tree, const ZdDbBlock& bytes, const Staging& to,
                  HashWorker& worker, bool* staged) {
  const char* data = reinterpret_cast<const char*>(bytes.data);
  const size_t size = static_cast<size_t>(bytes.size);
  BytesCheck check(to.storedCrc, to.signedFile, &worker);
  check.update(data, size);
  if (!check.crcMatches()) return Fetched::kCorrupt;
  if (holdsBytes(tree, to.target, bytes.size, to.storedCrc, to.signedFile)) return check.verdict();
  if (!writeNewFile(tree, to.stagedPath, data, size)) return Fetched::kUnwritable;
  const Fetched verdict = check.verdict();
  if (verdict != Fetched::kDone) {
    tree.removeFile(to.stagedPath);
    return verdict;
  }
  *staged = true;
  return Fetched::kDone;
}

// A value too large to lend goes to its staged file in chunks, checked as
// it passes; two chunks take turns, so one is hashed while the next is read
// and written.  A file that already holds the recorded bytes is not fetched.
// The two chunks of stageStreamed, allocated once for a whole package.
struct StreamChunks {
  std::vector<char> chunk[2];
  StreamChunks& ready() {
    for (std::vector<char>& c : chunk) c.resize(kStreamChunkBytes);
    return *this;
  }
};

Fetched stageStreamed(DirectoryTree& tree, zddb::BlobSource* source, const Staging& to,
                      HashWorker& worker, StreamChunks& chunks, bool* staged) {
  const int64_t size = source->size();
  if (holdsBytes(tree, to.target, size, to.storedCrc, to.signedFile)) return Fetched::kDone;
  std::unique_ptr<WritableFile> file;
  if (!tree.createFile(to.stagedPath, &file)) return Fetched::kUnwritable;
  chunks.ready();
  Fetched outcome = Fetched::kDone;
  {
    BytesCheck check(to.storedCrc, to.signedFile, &worker);
    int64_t done = 0;
    for (int turn = 0; outcome == Fetched::kDone && done < size; turn ^= 1) {
      std::vector<char>& chunk = chunks.chunk[turn];
      size_t got = 0;
      if (!source->read(chunk.data(), chunk.size(), &got) || got == 0) {
        outcome = Fetched::kUnreadable;
        continue;
      }
      check.update(chunk.data(), got);
      if (!file->append(chunk.data(), got)) outcome = Fetched::kUnwritable;
      done += static_cast<int64_t>(got);
    }
    if (!file->close() && outcome == Fetched::kDone) outcome = Fetched::kUnwritable;
    if (outcome == Fetched::kDone) outcome = check.verdict();
  }
  if (outcome == Fetched::kDone) {
    *staged = true;
    return outcome;
  }
  tree.removeFile(to.stagedPath);
  return outcome;
}

// Refuses the package `key` for failing its signature check: the user's
// message and a run-log line, both naming the package and the reason.
void refuseUnsigned(const std::string& key, const std::string& why) {
  zdcom::errorMsg(zedaGetText_callbk("补丁%s没有通过签名校验：%s，补丁被拒绝"),
                  printableKey(key).c_str(), why.c_str());
  print(runLog, "补丁%s没有通过签名校验：%s，补丁被拒绝", printableKey(key).c_str(), why.c_str());
}

// Logs why a record could not be fetched; true when the package can go on.
bool reportFetched(Fetched outcome, const std::string& target) {
  switch (outcome) {
    case Fetched::kDone:
      return true;
    case Fetched::kEmpty:
      zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法更新，服务器上下载的数据为空"),
                                      target.c_str());
      print(runLog, "文件(%s)无法更新，服务器上下载的数据为空", target.c_str());
      return true;
    case Fetched::kCorrupt:
      zdcom::OVIXCommandLog::errorlog(
          zedaGetText_callbk("文件(%s)的数据与校验码不符，服务器上的数据已损坏"), target.c_str());
      return false;
    case Fetched::kNotSigned:  // the package is refused by its fetch
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

// Refuses a record whose key, CRC or place would not be safe to write:
// checked on the very record that is then written.  False after the
// user's message naming the key.
bool acceptRecord(DirectoryTree& tree, const OVIXFileRecord& record,
                  std::set<std::string>* seenKeys) {
  const std::string key = text(record.skey());
  const KeyFault fault = record.skey() == nullptr ? KeyFault::kEmpty : checkFileKey(key);
  const std::string shown = printableKey(key);
  if (fault != KeyFault::kNone) {
    zdcom::errorMsg(zedaGetText_callbk("补丁中的文件路径%s%s，补丁被拒绝"), shown.c_str(),
                    keyFaultText(fault));
    return false;
  }
  // "a\b" and "a/b" name one file.
  if (!seenKeys->insert(keyToNativePath(key)).second) {
    zdcom::errorMsg(zedaGetText_callbk("补丁中的文件路径%s出现了不止一次，补丁被拒绝"), shown.c_str());
    return false;
  }
  if (record.crc() == nullptr || !isCrcText(record.crc())) {
    zdcom::errorMsg(zedaGetText_callbk("补丁中文件%s的校验码%s不合法，补丁被拒绝"), shown.c_str(),
                    printableKey(text(record.crc())).c_str());
    return false;
  }
  const std::string parent = parentPath(keyToNativePath(key));
  if (!parent.empty() && tree.kind(parent) == EntryKind::kLink) {
    zdcom::errorMsg(zedaGetText_callbk("补丁中的文件路径%s经过安装目录中的符号链接，补丁被拒绝"),
                    shown.c_str());
    return false;
  }
  return true;
}

// Fetches every record of the package into the staging folder `staging`,
// each checked before it is written and against its CRC (and the signed
// manifest `signedFiles`, when there is one) after, counting the records on
// the progress display.
class PackageFetch {
 public:
  PackageFetch(DirectoryTree& tree, ZdDbDataBase* db, const OVIXPackageInfo& header,
               const PackageManifest* signedFiles, std::string staging, size_t total)
      : tree_(tree), db_(db), key_(header.skey()), signed_(signedFiles),
        staging_(std::move(staging)), total_(total) {}

  Applied run(const std::string& table);
  const std::vector<Planned>& plan() const { return plan_; }

 private:
  static constexpr char kWhat[] = "下载补丁";
  // False when the fetch must end; outcome_ then says how.
  bool fetchRecord(OVIXFileRecord& record);
  // The signed entry of `record`; null (refused) when the package is
  // signed and the supplier did not sign this file.
  bool findSigned(const OVIXFileRecord& record, const ManifestEntry** entry);
  // False (refused) when a signed file never came.
  bool allSignedFilesCame();
  void refuse(const std::string& why) {
    refuseUnsigned(key_, why);
    outcome_ = Applied::kRefused;
  }

  DirectoryTree& tree_;
  ZdDbDataBase* db_;
  std::string key_;
  const PackageManifest* signed_;
  std::vector<bool> signedSeen_;  // by the entry's place in the manifest
  StreamChunks chunks_;
  HashWorker hashWorker_;  // last: it ends, finishing its piece, before what it reads
  std::string staging_;
  size_t total_;
  size_t fetched_ = 0;
  std::set<std::string> seenKeys_;
  std::vector<Planned> plan_;
  Applied outcome_ = Applied::kDone;
};

bool PackageFetch::findSigned(const OVIXFileRecord& record, const ManifestEntry** entry) {
  *entry = nullptr;
  if (signed_ == nullptr) return true;
  *entry = signed_->find(record.skey());
  if (*entry == nullptr) {
    refuse("文件" + printableKey(record.skey()) + "不在签名的清单中");
    return false;
  }
  signedSeen_.resize(signed_->files().size());
  signedSeen_[static_cast<size_t>(*entry - signed_->files().data())] = true;
  return true;
}

bool PackageFetch::allSignedFilesCame() {
  if (signed_ == nullptr) return true;
  signedSeen_.resize(signed_->files().size());
  for (const ManifestEntry& file : signed_->files()) {
    if (!signedSeen_[static_cast<size_t>(&file - signed_->files().data())]) {
      refuse("签名的文件" + printableKey(file.key) + "不在补丁中");
      return false;
    }
  }
  return true;
}

bool PackageFetch::fetchRecord(OVIXFileRecord& record) {
  const ManifestEntry* signedFile = nullptr;
  if (!acceptRecord(tree_, record, &seenKeys_)) {
    outcome_ = Applied::kRefused;
    return false;
  }
  if (!findSigned(record, &signedFile)) return false;
  const std::string path = keyToNativePath(record.skey());
  const std::string stagedPath = joinPath(staging_, "f" + std::to_string(plan_.size()));
  const std::string storedCrc = record.crc();
  const Staging to{path, stagedPath, storedCrc, signedFile};
  bool staged = false;
  const RecordBytes& bytes = record.bytes();
  Fetched outcome = Fetched::kEmpty;
  if (bytes.isStreamed() && bytes.size() > 0) {
    std::unique_ptr<zddb::BlobSource> reader = bytes.open();
    outcome = stageStreamed(tree_, reader.get(), to, hashWorker_, chunks_, &staged);
  } else if (bytes.size() > 0) {
    outcome = stageLent(tree_, bytes.block(), to, hashWorker_, &staged);
  } else if (signedFile != nullptr && signedFile->size != 0) {
    outcome = Fetched::kNotSigned;
  }
  if (outcome == Fetched::kNotSigned) {
    refuse("文件" + printableKey(record.skey()) + "的数据与签名时不同");
    return false;
  }
  if (!reportFetched(outcome, path)) {
    outcome_ = Applied::kFailed;
    return false;
  }
  if (outcome == Fetched::kEmpty) return true;
  plan_.push_back({path, staged ? stagedPath : std::string()});
  if (!zdcom::currentPresenter().progress(kWhat, ++fetched_, total_)) {
    outcome_ = Applied::kCancelled;
    return false;
  }
  return true;
}

Applied PackageFetch::run(const std::string& table) {
  zdcom::Presenter& presenter = zdcom::currentPresenter();
  if (!presenter.progress(kWhat, 0, total_)) return Applied::kCancelled;
  std::string sql = "select * from " + zddb::quoteIdentifier(table);
  ZdDb::ErrorStatus status = db_->selectEach(
      // The bytes stay where they arrived: lent by the statement, or
      // streamed from the server's row when they are large.  One copy of
      // the largest file is all the memory a patch needs.
      sql.c_str(), OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kStream,
      [this](std::unique_ptr<ZdDbObject>& object) {
        OVIXFileRecord* record = OVIXFileRecord::cast(object.get());
        return record == nullptr || fetchRecord(*record);
      });
  presenter.progress(kWhat, total_, total_);
  if (outcome_ != Applied::kDone) return outcome_;
  if (status != ZdDb::eOk) {
    reportUnreadable();
    return Applied::kUnreadable;
  }
  return allSignedFilesCame() ? Applied::kDone : Applied::kRefused;
}

// The number of records of the package's table, for the progress display;
// false when the table cannot be read.
bool countRecords(ZdDbDataBase* db, const std::string& table, size_t* count) {
  std::vector<std::vector<KVParams>> rows;
  std::string sql = "select count(*) as n from " + zddb::quoteIdentifier(table);
  if (db->selectSql(sql.c_str(), {makeIntParam("n", "", 0)}, rows) != ZdDb::eOk || rows.empty())
    return false;
  *count = static_cast<size_t>(std::max(rows[0][0].value.intValue(), 0));
  return true;
}

// The package's backup folder, relative to the installation.
std::string backupFolderOf(const OVIXPackageInfo& header) {
  return joinPath(kPatchFolder, header.skey());
}

// Puts the staged files in place, backing up what they replace; on a
// failure puts everything back.
Applied replaceFiles(DirectoryTree& tree, const std::vector<Planned>& plan,
                     const std::string& backupDir, const std::string& installDir) {
  FileReplacer replacer(tree, backupDir);
  for (const Planned& item : plan) {
    if (item.staged.empty()) continue;  // already holds the package's bytes
    print(runLog, "Update file:%s", joinPath(installDir, item.path).c_str());
    if (!replacer.replace(item.path, item.staged)) {
      replacer.restoreAll();
      return Applied::kFailed;
    }
  }
  tree.syncAll();
  return Applied::kDone;
}

Applied applyPackageTo(DirectoryTree& tree, ZdDbDataBase* db, const OVIXPackageInfo& header,
                       const std::string& installDir, const PackageManifest* signedFiles) {
  const std::string table = text(header.refTblname());
  // The header's texts may reach the setup file: none may start a line.
  bool plainTexts = true;
  for (char const* value : {header.name(), header.ver(), header.kernalTime(), header.verTime()})
    plainTexts = plainTexts && isSingleLineText(text(value));
  if (!zddb::isPlainIdentifier(table) || !isPackageKeyText(text(header.skey())) || !plainTexts) {
    zdcom::errorMsg(zedaGetText_callbk("补丁%s的包信息不合法，补丁被拒绝"),
                    printableKey(text(header.skey())).c_str());
    return Applied::kRefused;
  }
  size_t records = 0;
  if (!countRecords(db, table, &records)) {
    reportUnreadable();
    return Applied::kUnreadable;
  }
  StagingFolder staging(tree, header.skey());
  if (!staging.create()) {
    zdcom::errorMsg(zedaGetText_callbk("无法在安装目录(%s)中建立补丁的临时目录：%s"),
                    installDir.c_str(), Env::lastError().c_str());
    return Applied::kRefused;
  }
  PackageFetch fetch(tree, db, header, signedFiles, staging.path(), records);
  Applied fetched = fetch.run(table);
  if (fetched != Applied::kDone) return fetched;  // the installation was not touched
  // The fetched bytes are on disk before any of them takes a file's place.
  tree.syncAll();
  const std::string backupDir = backupFolderOf(header);
  if (!startFreshBackupsIfCompleted(tree, backupDir)) return Applied::kFailed;
  return replaceFiles(tree, fetch.plan(), backupDir, installDir);
}

}  // namespace

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
    if (isNewerPatchTime(packTime, bestTime)) {
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
    if (isNewerPatchTime(parseTimeString(h->packTime()), bestTime) &&
        std::string(h->dependGuid()) == best->guid())
      dependents->push_back(h);
  }
  return best;
}

bool findSetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir,
                      SetupPatches* patches) {
  IniFile setup;
  setup.load(env, setupFilePath(installDir));
  char const* name = setup.getValue(kSetupSection, "NAME");
  patches->writeAll = false;
  if (name == nullptr) {
    patches->base = selectNewestHeader(db, patches->headers);
    if (patches->base == nullptr) return false;
    patches->writeAll = true;
    return true;
  }
  char const* patch = setup.getValue(kSetupSection, "PATCH");
  std::string installed = patch != nullptr ? installedPatchDate(patch)
                                           : text(setup.getValue(kSetupSection, "BUILDTIME"));
  // A setup file without VERSION names no product that a header matches.
  std::string version = text(setup.getValue(kSetupSection, "VERSION"));
  patches->base = findNewerPatch(version.c_str(), name, installed.c_str(), db, patches->headers,
                                 &patches->dependents);
  return patches->base != nullptr;
}

bool applyPackage(DirectoryTree& tree, ZdDbDataBase* db, OVIXPackageInfo* header,
                  const std::string& installDir, const PackageManifest* signedFiles) {
  if (db == nullptr || header == nullptr || installDir.empty()) return false;
  Applied applied = applyPackageTo(tree, db, *header, installDir, signedFiles);
  if (applied == Applied::kCancelled)
    zdcom::errorMsg(zedaGetText_callbk("已取消下载补丁，安装目录没有任何改动"));
  if (applied == Applied::kFailed) reportPackageFailed();
  return applied == Applied::kDone;
}

namespace {

// Records the applied base in the setup file, and then marks the backups
// of every applied package as those of a completed run.
bool recordApplied(Env& env, DirectoryTree& tree, const std::string& installDir,
                   const SetupPatches& patches) {
  IniFile setup;
  setup.load(env, setupFilePath(installDir));
  const OVIXPackageInfo* base = patches.base;
  if (patches.writeAll) {
    setup.setValue(kSetupSection, "NAME", base->name());
    setup.setValue(kSetupSection, "VERSION", base->ver());
    setup.setValue(kSetupSection, "KERNELTIME", base->kernalTime());
    setup.setValue(kSetupSection, "BUILDTIME", base->verTime());
  }
  setup.setValue(kSetupSection, "PATCH", base->skey());
  if (!setup.save(env, setupFilePath(installDir))) {
    zdcom::errorMsg(zedaGetText_callbk("补丁的文件已经替换，但不能记入安装信息文件：%s"),
                    Env::lastError().c_str());
    return false;
  }
  // Only now: a run killed before the setup file names the patch runs the
  // package again and must keep the backups it finds.
  markBackupsCompleted(tree, backupFolderOf(*base));
  for (const OVIXPackageInfo* dependent : patches.dependents)
    markBackupsCompleted(tree, backupFolderOf(*dependent));
  return true;
}

// The packages to apply, base first.
std::vector<OVIXPackageInfo*> packagesOf(const SetupPatches& patches) {
  std::vector<OVIXPackageInfo*> all{patches.base};
  all.insert(all.end(), patches.dependents.begin(), patches.dependents.end());
  return all;
}

// The signed manifests of the packages to apply (in packagesOf's order),
// each checked against the installation's trusted keys before anything is
// fetched; none when the installation trusts no key, which the run log
// then says.  False after refusing a package.
bool checkSignatures(Env& env, ZdDbDataBase* db, const std::string& installDir,
                     const SetupPatches& patches, std::vector<PackageManifest>* manifests) {
  TrustedKeys keys;
  std::string why;
  if (!loadTrustedKeys(env, joinPath(installDir, keyToNativePath(kTrustedKeysFolder)), &keys, &why)) {
    refuseUnsigned(text(patches.base->skey()), why);
    return false;
  }
  if (keys.empty()) {
    print(runLog, "安装目录中没有受信任的公钥(%s)，补丁没有经过签名校验", kTrustedKeysFolder);
    return true;
  }
  for (const OVIXPackageInfo* header : packagesOf(patches)) {
    PackageSignature signature;
    std::string fault = "补丁没有签名";
    manifests->emplace_back();
    if (!readSignatureRow(db, header->skey(), &signature) ||
        !checkSignedHeader(signature, keys, *header, &manifests->back(), &fault)) {
      refuseUnsigned(text(header->skey()), fault);
      return false;
    }
  }
  print(runLog, "补丁的签名已经用%zu个受信任的公钥校验", keys.size());
  return true;
}

}  // namespace

bool applySetupPatches(Env& env, ZdDbDataBase* db, const std::string& installDir) {
  std::unique_ptr<DirectoryTree> tree;
  if (!env.openTree(installDir, &tree)) {
    zdcom::errorMsg(zedaGetText_callbk("无法打开安装目录(%s)：%s"), installDir.c_str(),
                    Env::lastError().c_str());
    return false;
  }
  InstallationLock lock(env, *tree, installDir, kInstallationLockWaitSeconds);
  if (!lock.locked()) {
    zdcom::errorMsg("%s", lock.failure().c_str());
    return false;
  }
  removeLeftoversOfEarlierRuns(*tree);
  SetupPatches patches;
  std::vector<PackageManifest> manifests;
  if (!findSetupPatches(env, db, installDir, &patches) ||
      !checkSignatures(env, db, installDir, patches, &manifests))
    return false;
  const std::vector<OVIXPackageInfo*> packages = packagesOf(patches);
  for (size_t i = 0; i < packages.size(); ++i) {
    const PackageManifest* signedFiles = manifests.empty() ? nullptr : &manifests[i];
    if (!applyPackage(*tree, db, packages[i], installDir, signedFiles))
      return false;
  }
  return recordApplied(env, *tree, installDir, patches);
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
  SetupPatches patches;
  return findSetupPatches(env, db, installDir, &patches);
}

}  // namespace

bool openPatchStoreAndCheck(Env& env, char const* installDir, char const* ip, char const* port) {
  return withPatchStore(env, installDir, ip, port, &checkStep);
}

bool openPatchStoreAndApply(Env& env, char const* installDir, char const* ip, char const* port) {
  return withPatchStore(env, installDir, ip, port, &applySetupPatches);
}

}  // namespace ovix
