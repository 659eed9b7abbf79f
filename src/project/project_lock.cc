#include "project/project_lock.h"

#include <algorithm>
#include <cstring>

#include "package/server_address.h"
#include "platform/crc.h"
#include "platform/messages.h"
#include "platform/presenter.h"

namespace zdcom {
namespace {

constexpr char kPrefix[] = "ovix.project:";
constexpr size_t kMaxLockName = 64;

std::string databaseOf(ZdDbDataBase* db) {
  return zddb::splitConnectionText(db->name().c_str()).database;
}

}  // namespace

std::string AutoProjectLock::lockName(const std::string& database) {
  std::string name = kPrefix + database;
  if (name.size() <= kMaxLockName) return name;
  // A long name keeps its CRC, so names that share the kept prefix still
  // differ.
  std::string crc = crc::crc32_text(crc::crc32_update(0, database.data(), database.size()));
  std::string kept = database.substr(0, kMaxLockName - std::strlen(kPrefix) - crc.size() - 1);
  // Never cut a UTF-8 sequence in two.
  while (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0xC0) == 0x80) kept.pop_back();
  if (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0x80) != 0) kept.pop_back();
  return kPrefix + kept + "#" + crc;
}

AutoProjectLock::AutoProjectLock(ZdDbDataBase* project, char const* purpose,
                                 char const* holderText, ovix::Env& env)
    : project_(project) {
  if (project_ == nullptr || project_->connection() == nullptr) {
    failure_ = zedaGetText_callbk("项目数据库未打开，无法加项目锁");
    return;
  }
  const std::string database = databaseOf(project_);
  name_ = lockName(database);
  std::string text = holderText != nullptr ? holderText : "";
  if (purpose != nullptr && *purpose != '\0' && std::strcmp(purpose, "nothing") != 0)
    text += std::string(text.empty() ? "" : ": ") + purpose;
  std::string holder;
  switch (waitForLock(env, text, database, &holder)) {
    case Wait::kLocked:
      locked_ = true;
      break;
    case Wait::kCancelled:
      failure_ = zdcom::format(zedaGetText_callbk("已取消等待项目(%s)的项目锁，未对项目进行补丁"),
                               database.c_str());
      break;
    case Wait::kBusy:
      failure_ = zdcom::format(
          zedaGetText_callbk("项目(%s)正在被其他用户补丁，等待%d秒后仍未能加锁，请稍后再试。\n占用者：%s"),
          database.c_str(), kWaitSeconds, holder.c_str());
      break;
    case Wait::kFailed:
      failure_ = zdcom::format(zedaGetText_callbk("项目(%s)加锁失败：%s"), database.c_str(),
                               project_->connection()->lastError().c_str());
      break;
  }
}

// Tries at once, then once a second, so the user sees the wait and can end
// it.
AutoProjectLock::Wait AutoProjectLock::waitForLock(ovix::Env& env, const std::string& text,
                                                   const std::string& database,
                                                   std::string* holder) {
  zddb::Connection* connection = project_->connection();
  if (connection->lockNamed(name_, 0, text, holder)) return Wait::kLocked;
  if (holder->empty()) return Wait::kFailed;
  const uint64_t seconds = kWaitSeconds;
  const std::string waiting =
      zdcom::format(zedaGetText_callbk("等待其他用户结束对项目(%s)的补丁"), database.c_str());
  zdcom::Presenter& presenter = zdcom::currentPresenter();
  Wait outcome = Wait::kBusy;
  for (uint64_t waited = 0; waited < seconds; ++waited) {
    if (!presenter.progress(waiting, waited, seconds)) {
      outcome = Wait::kCancelled;
      break;
    }
    env.sleepMilliseconds(1000);
    if (connection->lockNamed(name_, 0, text, holder)) {
      outcome = Wait::kLocked;
      break;
    }
    if (holder->empty()) {
      outcome = Wait::kFailed;
      break;
    }
  }
  presenter.progress(waiting, seconds, seconds);  // ends the progress display
  return outcome;
}

AutoProjectLock::~AutoProjectLock() {
  if (locked_ && project_->connection() != nullptr) project_->connection()->unlockNamed(name_);
}

}  // namespace zdcom
