#include "packing/package_writer.h"

#include <sqlite3.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

#include "package/file_key.h"
#include "package/hash_worker.h"
#include "package/package_file.h"
#include "package/package_signature.h"
#include "platform/command_log.h"
#include "platform/crc.h"
#include "platform/messages.h"
#include "platform/path_text.h"
#include "platform/presenter.h"

namespace ovix {
namespace {

// The piece of a large file read, CRC-checked and hashed at a time.
constexpr size_t kLargeFileChunkBytes = 1 << 20;

// Streams a file into a record and computes its CRC on the way, so that a
// file changed since its CRC was taken is noticed.
class CrcFileSource final : public zddb::BlobSource {
 public:
  CrcFileSource(Env& env, std::string path, int64_t size)
      : env_(env), path_(std::move(path)), size_(size) {}

  int64_t size() const override { return size_; }
  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    if (!file_ && !env_.newSequentialFile(path_, &file_)) return false;
    if (!file_->read(buf, n, got)) return false;
    crc_ = crc::crc32_update(crc_, buf, *got);
    read_ += static_cast<int64_t>(*got);
    return true;
  }
  // The CRC text of the bytes read, once all of them were.
  std::string crcText() const { return read_ == size_ ? crc::crc32_text(crc_) : std::string(); }

 private:
  Env& env_;
  std::string path_;
  int64_t size_;
  std::unique_ptr<SequentialFile> file_;
  uint32_t crc_ = 0;
  int64_t read_ = 0;
};

// True when another connection holds a lock on the SQLite file at `path`.
bool packageInUse(const std::string& path) {
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(raw);
    return false;  // not a database we can open: nothing holds it as one
  }
  int rc = sqlite3_exec(raw, "BEGIN EXCLUSIVE; ROLLBACK;", nullptr, nullptr, nullptr);
  sqlite3_close_v2(raw);
  return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

void reportInUse(const std::string& packagePath) {
  zdcom::errorMsg(zedaGetText_callbk("补丁包文件%s，正在被打开使用，请先关闭"), packagePath.c_str());
}

// False (reported) when an earlier package at `packagePath` is open
// elsewhere.  An earlier package is otherwise replaced only by the rename
// of the finished new one, so a failed or cancelled pack keeps it.
bool earlierPackageFree(const std::string& packagePath) {
  if (!packageInUse(packagePath)) return true;
  reportInUse(packagePath);
  return false;
}

// Shows, in one message, the links the pack left out: they lead out of the
// tree or to a directory, and a package carries files only.
void reportSkippedLinks(const std::vector<std::string>& links) {
  if (links.empty()) return;
  std::string list;
  for (const std::string& link : links) {
    zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("链接(%s)指向路径之外或指向目录，没有打包"),
                                    printableKey(link).c_str());
    list += "\n\t" + printableKey(link);
  }
  zdcom::errorMsg(zedaGetText_callbk("以下链接指向路径之外或指向目录，没有打包：%s"), list.c_str());
}

// False (reported, naming the file) when a file's relative path is one
// that a workstation would refuse as a package key: a release must never
// carry a package that every workstation refuses.
bool allKeysInstallable(const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    KeyFault fault = checkFileKey(key);
    if (fault == KeyFault::kNone) continue;
    zdcom::errorMsg(zedaGetText_callbk("文件(%s)的路径%s，工作站不能安装，打包被拒绝"),
                    printableKey(key).c_str(), keyFaultText(fault));
    return false;
  }
  return true;
}

class PackageBuilder {
 public:
  PackageBuilder(Env& env, const std::string& root, const PackFileFilter& filter,
                 const minisign::SecretKey* signer)
      : env_(env), root_(root), filter_(filter), signer_(signer) {}

  // Writes everything into the database at `tempPath`; false on any failure
  // or a cancel, with failure() saying why (empty for a cancel).
  bool build(const std::string& tempPath, OVIXPackageInfo& header,
             const std::vector<std::string>& files);
  // The user's message for the failure of build.
  const std::string& failure() const { return failure_; }

 private:
  bool createTables();
  bool writeFile(const std::string& relativePath);
  // Lets `record` stream the large file `fullPath` of `size` bytes, CRC
  // checked while it streams; null, with failure_ set, when it cannot.
  std::shared_ptr<CrcFileSource> attachLargeFile(OVIXFileRecord& record,
                                                 const std::string& fullPath, uint64_t size,
                                                 ContentHasher* hasher);
  // The CRC text of the file `path` ("" when it cannot be read), its bytes
  // fed to `hasher` too when given.
  std::string crcAndHash(const std::string& path, ContentHasher* hasher);
  // Reads the rest of a small open file into *buffer; false on a read error.
  bool readSmallFile(SequentialFile& file, uint64_t expectedSize, std::vector<char>* buffer,
                     size_t* size);
  // Starts the signed entry of `relativePath`, after adding those before
  // whose hashes have ended.
  ContentHasher* startEntry(const std::string& relativePath);
  // Moves the pending entries whose hashing has ended into the manifest,
  // oldest first; with `all`, waits for every one.
  void settleEntries(bool all);
  // Writes the signed manifest of the header and the files written.
  bool writeSignature(const OVIXPackageInfo& header);
  // Records `message` as the failure; returns false.
  bool fail(std::string message);
  // fail() with the database's (or else the last file operation's) reason.
  bool failWriting();

  Env& env_;
  const std::string& root_;
  const PackFileFilter& filter_;
  const minisign::SecretKey* signer_;
  std::vector<ManifestEntry> signedFiles_;
  DatabaseHandle db_;
  std::string fileTable_;
  std::string headerTable_;
  std::string failure_;
  // Two buffers take turns serving the small files (and the chunks of a
  // large one), so that one is hashed while the next is read; each is
  // allocated (and faulted in) once for the whole pack.  The piece in
  // flight, if any, is always in buffers_[turn_ ^ 1].
  std::vector<char> buffers_[2];
  int turn_ = 0;
  // The signed entries whose hashes may still be running, oldest first:
  // a small file is hashed at once, beside a larger one before it.
  struct PendingEntry {
    std::string key;
    uint64_t size = 0;
    ContentHasher hasher;
  };
  std::deque<PendingEntry> pending_;
  // Last: it ends, finishing the piece in flight, before what it reads.
  HashWorker hashWorker_;
};

ContentHasher* PackageBuilder::startEntry(const std::string& relativePath) {
  if (signer_ == nullptr) return nullptr;
  settleEntries(false);
  pending_.push_back(PendingEntry{relativePath, 0, ContentHasher()});
  return &pending_.back().hasher;
}

void PackageBuilder::settleEntries(bool all) {
  if (all) hashWorker_.wait();
  while (!pending_.empty() && !hashWorker_.isHashing(&pending_.front().hasher)) {
    PendingEntry& entry = pending_.front();
    signedFiles_.push_back({entry.key, entry.size, entry.hasher.finish()});
    pending_.pop_front();
  }
}

// The chunks take turns: one is hashed on the worker while the next is read
// and its CRC taken, so the hash costs no time where a second core is free.
std::string PackageBuilder::crcAndHash(const std::string& path, ContentHasher* hasher) {
  std::unique_ptr<SequentialFile> file;
  if (!env_.newSequentialFile(path, &file)) return {};
  uint32_t crc = 0;
  for (;;) {
    std::vector<char>& chunk = buffers_[turn_];  // not the one in flight
    if (chunk.size() < kLargeFileChunkBytes) chunk.resize(kLargeFileChunkBytes);
    size_t got = 0;
    if (!file->read(chunk.data(), kLargeFileChunkBytes, &got)) return {};
    // The last chunk's hash runs on while the file streams into its row.
    if (got == 0) return crc::crc32_text(crc);
    // feed() waits for the chunk before; a short last chunk is hashed at once.
    if (hasher != nullptr && hashWorker_.feed(hasher, chunk.data(), got)) turn_ ^= 1;
    crc = crc::crc32_update(crc, chunk.data(), got);
  }
}

bool PackageBuilder::readSmallFile(SequentialFile& file, uint64_t expectedSize,
                                   std::vector<char>* buffer, size_t* size) {
  // Asking for one byte more than the size tells the end of the file in the
  // same call, and shows a file that grew since it was measured.
  size_t want = static_cast<size_t>(expectedSize) + 1;
  if (buffer->size() < want) buffer->resize(std::max(want, buffer->size() * 2));
  size_t total = 0;
  for (;;) {
    if (total == buffer->size()) buffer->resize(buffer->size() * 2);
    size_t got = 0;
    if (!file.read(buffer->data() + total, buffer->size() - total, &got)) return false;
    total += got;
    if (got == 0 || total < want) break;  // a short read of a regular file is its end
    if (total > static_cast<size_t>(kInMemoryFileBytes) * 2) return false;  // grew wildly
  }
  *size = total;
  return true;
}

bool PackageBuilder::fail(std::string message) {
  failure_ = std::move(message);
  return false;
}

bool PackageBuilder::failWriting() {
  return fail(zdcom::format(zedaGetText_callbk("写入补丁包失败：%s"),
                            db_ ? db_->lastError().c_str() : Env::lastError().c_str()));
}

bool PackageBuilder::createTables() {
  fileTable_ = OVIXFileRecord::desc()->name();
  headerTable_ = OVIXPackageInfo::desc()->name();
  for (const auto& [table, cls] : {std::pair{fileTable_, OVIXFileRecord::desc()},
                                   std::pair{headerTable_, OVIXPackageInfo::desc()}}) {
    if (createClassTable(db_->getFilter(0), table.c_str(), cls) != 0)
      return fail(zdcom::format(zedaGetText_callbk("创建表失败：%s"), table.c_str()));
  }
  return true;
}

std::shared_ptr<CrcFileSource> PackageBuilder::attachLargeFile(OVIXFileRecord& record,
                                                                const std::string& fullPath,
                                                                uint64_t size,
                                                                ContentHasher* hasher) {
  // A row holds the file's bytes and a few short texts; the database limits
  // the size of a whole row.
  const uint64_t limit = db_->connection()->maxValueBytes() - zddb::Connection::kRowOverheadBytes;
  if (size > limit) {
    fail(fileTooLargeText(fullPath, size, limit));
    return nullptr;
  }
  // The CRC goes into the row with the other fields: changing the row
  // afterwards would make SQLite load the whole blob again.  The bytes are
  // checked against it while they stream, so a file that changes during
  // packing cannot slip in with a wrong CRC (nor with bytes other than
  // those hashed: the upload and the workstation check them against the
  // hash too).
  std::string crcText;
  if (record.setStreamFile(env_, fullPath)) crcText = crcAndHash(fullPath, hasher);
  if (crcText.empty()) {
    failWriting();
    return nullptr;
  }
  record.setCrc(crcText.c_str());
  auto streamed =
      std::make_shared<CrcFileSource>(env_, fullPath, static_cast<int64_t>(size));
  record.setStreamSource(streamed);
  return streamed;
}

bool PackageBuilder::writeFile(const std::string& relativePath) {
  const std::string fullPath = joinPath(root_, keyToNativePath(relativePath));
  OVIXFileRecord record;
  record.setSkey(relativePath.c_str());
  if (filter_.isProjectDatabase(relativePath)) record.setDbkey(relativePath.c_str());

  std::unique_ptr<SequentialFile> file;
  std::optional<uint64_t> size;
  if (env_.newSequentialFile(fullPath, &file)) size = file->size();
  std::shared_ptr<CrcFileSource> streamed;
  size_t bytes = 0;
  // The other buffer may hold the file before, still being hashed.
  std::vector<char>& buffer = buffers_[turn_];
  if (size && static_cast<int64_t>(*size) > kInMemoryFileBytes) {
    file.reset();
    streamed = attachLargeFile(record, fullPath, *size, startEntry(relativePath));
    if (!streamed) return false;
  } else if (size && readSmallFile(*file, *size, &buffer, &bytes)) {
    record.setStreamView(buffer.data(), static_cast<int32_t>(bytes));
    // A file handed over is hashed while the next one goes to the other
    // buffer; one hashed at once leaves its buffer free, and the other one
    // may still be in flight.
    ContentHasher* hasher = startEntry(relativePath);
    if (hasher != nullptr && hashWorker_.feed(hasher, buffer.data(), bytes)) turn_ ^= 1;
    record.setCrc(crc::crc32_text(crc::crc32_update(0, buffer.data(), bytes)).c_str());
  } else {
    zdcom::OVIXCommandLog::errorlog(zedaGetText_callbk("文件(%s)无法读取，已按空文件打包"),
                                    fullPath.c_str());
    startEntry(relativePath);
    record.setCrc(crc::crc32_text(0).c_str());  // the CRC of no bytes
  }
  file.reset();
  if (writeRecord(db_.get(), fileTable_.c_str(), &record, kWriteInsert) != 0) return failWriting();
  if (streamed && streamed->crcText() != record.crc()) {
    return fail(zdcom::format(zedaGetText_callbk("文件(%s)在打包过程中被修改，请重新打包"),
                              fullPath.c_str()));
  }
  if (!pending_.empty()) pending_.back().size = static_cast<uint64_t>(record.streamSize());
  return true;
}

bool PackageBuilder::writeSignature(const OVIXPackageInfo& header) {
  const PackageSignature signature = signManifest(*signer_, header, std::move(signedFiles_));
  if (signature.signature.empty() || !createSignatureTable(db_.get()) ||
      !writeSignatureRow(db_.get(), signature))
    return failWriting();
  return true;
}

bool PackageBuilder::build(const std::string& tempPath, OVIXPackageInfo& header,
                           const std::vector<std::string>& files) {
  db_.reset(openPackageFile(tempPath.c_str()));
  if (!db_) return fail(zdcom::format(zedaGetText_callbk("无法创建补丁包文件：%s"), tempPath.c_str()));
  // The file is renamed into place only after it was flushed, so it needs
  // no journal of its own while it is built.
  db_->connection()->execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  if (!createTables()) return false;
  if (db_->beginTransaction(ZdDbDataBase::kWriteTransaction) != 0) return failWriting();
  if (writeRecord(db_.get(), headerTable_.c_str(), &header, kWriteInsert) != 0)
    return failWriting();

  zdcom::Presenter& presenter = zdcom::currentPresenter();
  const uint64_t total = files.size();
  for (uint64_t i = 0; i < total; ++i) {
    if (!presenter.progress("打包", i, total)) return false;  // cancelled
    if (!writeFile(files[i])) return false;
  }
  presenter.progress("打包", total, total);
  settleEntries(true);
  if (signer_ != nullptr && !writeSignature(header)) return false;
  if (db_->commitTransaction() != 0) return failWriting();
  db_.reset();
  return true;
}

}  // namespace

bool writePackageFile(Env& env, OVIXPackageInfo& header, const std::string& packagePath,
                      const std::string& root, const std::string& startDirectory,
                      const PackFileFilter& filter, const minisign::SecretKey* signer) {
  if (packagePath.empty() || root.empty()) {
    if (root.empty()) zdcom::errorMsg(zedaGetText_callbk("路径下无文件：%s"), root.c_str());
    return false;
  }
  const std::string start = normalStartDirectory(startDirectory);
  if (!start.empty() && checkFileKey(start) == KeyFault::kOutside) {
    zdcom::errorMsg(zedaGetText_callbk("子目录%s不在路径%s之内，打包被拒绝"),
                    printableKey(startDirectory).c_str(), root.c_str());
    return false;
  }
  std::vector<std::string> files;
  std::vector<std::string> skippedLinks;
  collectFiles(env, root, startDirectory, &filter, files, &skippedLinks);
  reportSkippedLinks(skippedLinks);
  if (!allKeysInstallable(files)) return false;
  if (files.empty()) {
    zdcom::errorMsg(zedaGetText_callbk("路径下无文件：%s"), root.c_str());
    return false;
  }
  if (env.fileExists(packagePath) && !earlierPackageFree(packagePath)) return false;

  const std::string tempPath = packagePath + ".part";
  env.removeFile(tempPath);  // left by an earlier crash, if at all
  bool ok = false;
  std::string failure;
  {  // The builder closes the file when it goes: Windows removes no open file.
    PackageBuilder builder(env, root, filter, signer);
    ok = builder.build(tempPath, header, files);
    failure = builder.failure();
  }
  if (!ok && !failure.empty()) zdcom::errorMsg("%s", failure.c_str());
  if (ok && !env.syncPath(tempPath)) {
    zdcom::errorMsg(zedaGetText_callbk("写入补丁包失败：%s"), Env::lastError().c_str());
    ok = false;
  }
  if (ok && !env.renameFile(tempPath, packagePath)) {
    reportInUse(packagePath);
    ok = false;
  }
  if (!ok) {
    env.removeFile(tempPath);
    return false;
  }
  env.syncPath(parentPath(packagePath));
  return true;
}

}  // namespace ovix
