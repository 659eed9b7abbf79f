#include "package/hash_worker.h"

namespace ovix {

template <typename Ready>
void HashWorker::lookFor(Ready ready) {
  const auto end = std::chrono::steady_clock::now() + kLookBeforeSleeping;
  while (!ready() && std::chrono::steady_clock::now() < end) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

HashWorker::~HashWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    workWaiting_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
  thread_.join();
}

bool HashWorker::feed(ContentHasher* hasher, const void* data, size_t size) {
  if (size < kHandoverBytes && !isHashing(hasher)) {
    hasher->update(data, size);
    return false;
  }
  wait();
  if (size < kHandoverBytes) {
    hasher->update(data, size);
    return false;
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hasher_ = hasher;
    data_ = data;
    size_ = size;
    workWaiting_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
  return true;
}

void HashWorker::wait() {
  lookFor([this] { return !workWaiting_.load(std::memory_order_acquire); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return hasher_ == nullptr; });
}

bool HashWorker::isHashing(const ContentHasher* hasher) {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasher_ == hasher;
}

void HashWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (hasher_ == nullptr && !stopping_) {
      lock.unlock();
      lookFor([this] { return workWaiting_.load(std::memory_order_acquire); });
      lock.lock();
    }
    changed_.wait(lock, [this] { return hasher_ != nullptr || stopping_; });
    if (hasher_ == nullptr) return;  // stopping, nothing in flight
    ContentHasher* hasher = hasher_;
    lock.unlock();
    hasher->update(data_, size_);
    lock.lock();
    hasher_ = nullptr;
    workWaiting_.store(false, std::memory_order_release);
    changed_.notify_all();
  }
}

}  // namespace ovix
