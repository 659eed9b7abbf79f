#include "package/hash_worker.h"

namespace ovix {

HashWorker::~HashWorker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void HashWorker::feed(ContentHasher* hasher, const void* data, size_t size) {
  wait();
  if (!worthHandingOver(size)) {
    hasher->update(data, size);
    return;
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hasher_ = hasher;
    data_ = data;
    size_ = size;
  }
  changed_.notify_all();
}

void HashWorker::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return hasher_ == nullptr; });
}

void HashWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return hasher_ != nullptr || stopping_; });
    if (hasher_ == nullptr) return;  // stopping, nothing in flight
    ContentHasher* hasher = hasher_;
    lock.unlock();
    hasher->update(data_, size_);
    lock.lock();
    hasher_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace ovix
