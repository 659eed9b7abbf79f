#include "package/embedded_store.h"

#include "package/sqlite_connection.h"
#include "platform/env.h"
#include "platform/path_text.h"

namespace zddb {
namespace {

bool isDirectory(const std::string& path) { return ovix::Env::Default()->isDirectory(path); }

bool fileExists(const std::string& path) {
  ovix::Env& env = *ovix::Env::Default();
  return env.fileExists(path) && !env.isDirectory(path);
}

class EmbeddedStore final : public Server {
 public:
  explicit EmbeddedStore(std::string directory) : directory_(std::move(directory)) {}

  const std::string& lastError() const override { return error_; }

  bool databaseExists(const std::string& name) override {
    return isPlainIdentifierOrName(name) && fileExists(pathOf(name));
  }

  bool createDatabase(const std::string& name) override {
    if (!isPlainIdentifierOrName(name)) return false;
    auto db = openSqliteConnection(pathOf(name), OpenMode::kCreate, &error_);
    return db != nullptr;
  }

  std::unique_ptr<Connection> connect(const std::string& name) override {
    if (!isDirectory(directory_)) {
      error_ = "the store " + directory_ + " does not exist";
      return nullptr;
    }
    if (name.empty()) return openSqliteConnection(":memory:", OpenMode::kCreate, &error_);
    if (!isPlainIdentifierOrName(name)) return nullptr;
    if (!fileExists(pathOf(name))) {
      error_ = "no database " + name + " in " + directory_;
      return nullptr;
    }
    return openSqliteConnection(pathOf(name), OpenMode::kMustExist, &error_);
  }

 private:
  // Database names become file names: no separators, no dot names.
  bool isPlainIdentifierOrName(const std::string& name) {
    bool ok = ovix::isSingleFileName(name);
    if (!ok) error_ = "not a database name: " + name;
    return ok;
  }
  std::string pathOf(const std::string& name) const { return directory_ + "/" + name + ".sqlite"; }

  std::string directory_;
  std::string error_;
};

}  // namespace

std::unique_ptr<Server> openEmbeddedStore(const std::string& directory, std::string* error) {
  if (!isDirectory(directory)) {
    *error = "the store " + directory + " does not exist";
    return nullptr;
  }
  return std::make_unique<EmbeddedStore>(directory);
}

}  // namespace zddb
