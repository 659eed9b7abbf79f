// Hashing beside the work on the same bytes: a file's hash costs no time
// of its own when it runs on a second processor while the bytes are
// written.

#ifndef OVIX_PACKAGE_HASH_WORKER_H_
#define OVIX_PACKAGE_HASH_WORKER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "package/package_manifest.h"

namespace ovix {

// Feeds ContentHashers on a thread of its own, one piece at a time.
// feed() first waits for the piece before, then hands the new one over and
// returns; the piece must stay unchanged, and its hasher alive, until the
// next feed() or wait() returns.  Pieces too small to be worth a handover
// are hashed at once, without waiting unless their hasher is the one in
// flight.  Not for use by two threads at once.
class HashWorker {
 public:
  HashWorker() = default;
  ~HashWorker();
  HashWorker(const HashWorker&) = delete;
  HashWorker& operator=(const HashWorker&) = delete;

  // True when the piece was handed over; false when it was hashed at once
  // (the caller may then reuse its buffer, while a piece of another hasher
  // may still be in flight).
  bool feed(ContentHasher* hasher, const void* data, size_t size);
  // Returns once every piece fed is hashed.
  void wait();
  // True while a piece of `hasher` is being hashed.
  bool isHashing(const ContentHasher* hasher);

 private:
  // Below this a piece is hashed at once: handing it over costs more.
  static constexpr size_t kHandoverBytes = 64 << 10;

  // Each side looks for the other this long before it sleeps: waking a
  // sleeping thread costs more than a short look on a processor that would
  // be idle anyway, and most hand-overs come within it.
  static constexpr std::chrono::microseconds kLookBeforeSleeping{100};

  void run();
  // Returns once `ready` holds or kLookBeforeSleeping has passed.
  template <typename Ready>
  static void lookFor(Ready ready);

  std::mutex mutex_;
  std::condition_variable changed_;
  ContentHasher* hasher_ = nullptr;  // the piece in flight, if any
  // hasher_ != nullptr || stopping_, readable without the mutex; the
  // mutex still decides.
  std::atomic<bool> workWaiting_ = false;
  const void* data_ = nullptr;
  size_t size_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // started with the first piece handed over
};

}  // namespace ovix

#endif  // OVIX_PACKAGE_HASH_WORKER_H_
