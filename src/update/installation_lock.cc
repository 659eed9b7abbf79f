#include "update/installation_lock.h"

#include "platform/messages.h"
#include "platform/presenter.h"

namespace ovix {
namespace {

constexpr int kTriesPerSecond = 10;

}  // namespace

InstallationLock::InstallationLock(Env& env, DirectoryTree& tree, const std::string& installDir,
                                   int waitSeconds) {
  LockAttempt attempt = tree.tryLock(kInstallationLockFile, &lock_);
  if (attempt == LockAttempt::kBusy && waitSeconds > 0) {
    const std::string waiting =
        zdcom::format(zedaGetText_callbk("等待安装目录(%s)上的另一个更新结束"), installDir.c_str());
    zdcom::Presenter& presenter = zdcom::currentPresenter();
    const uint64_t tries = static_cast<uint64_t>(waitSeconds) * kTriesPerSecond;
    for (uint64_t tried = 0; attempt == LockAttempt::kBusy && tried < tries; ++tried) {
      if (tried % kTriesPerSecond == 0 &&
          !presenter.progress(waiting, tried / kTriesPerSecond, static_cast<uint64_t>(waitSeconds))) {
        presenter.progress(waiting, waitSeconds, waitSeconds);
        failure_ = zdcom::format(zedaGetText_callbk("已取消等待安装目录(%s)，安装目录没有任何改动"),
                                 installDir.c_str());
        return;
      }
      env.sleepMilliseconds(1000 / kTriesPerSecond);
      attempt = tree.tryLock(kInstallationLockFile, &lock_);
    }
    presenter.progress(waiting, waitSeconds, waitSeconds);  // ends the progress display
  }
  if (attempt == LockAttempt::kBusy) {
    failure_ = zdcom::format(
        zedaGetText_callbk("安装目录(%s)正在被另一个更新使用，等待%d秒后仍未结束，请稍后再试"),
        installDir.c_str(), waitSeconds);
  } else if (attempt == LockAttempt::kFailed) {
    failure_ = zdcom::format(zedaGetText_callbk("无法锁定安装目录(%s)：%s"), installDir.c_str(),
                             Env::lastError().c_str());
  }
}

}  // namespace ovix
