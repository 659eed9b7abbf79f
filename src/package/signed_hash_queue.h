// Checking files against their signed hashes without waiting for each
// hash: a file is hashed on the hash worker while the caller fetches and
// writes the next one, and its verdict comes when that next file is handed
// over.  What the caller lent is copied first, since a lender (a database
// statement) takes its bytes back when the next row is read.

#ifndef OVIX_PACKAGE_SIGNED_HASH_QUEUE_H_
#define OVIX_PACKAGE_SIGNED_HASH_QUEUE_H_

#include <cstddef>
#include <vector>

#include "package/hash_worker.h"
#include "package/package_manifest.h"

namespace ovix {

class SignedHashQueue {
 public:
  // Files of up to this size are queued; a larger one would cost its size
  // again in memory, and its own pieces keep the worker busy anyway.
  static constexpr size_t kMaxQueuedBytes = size_t{4} << 20;

  // `worker` outlives the queue and is used by nobody else while a piece
  // of the queue is in flight, except through feed().
  explicit SignedHashQueue(HashWorker& worker) : worker_(worker) {}
  ~SignedHashQueue() { worker_.wait(); }
  SignedHashQueue(const SignedHashQueue&) = delete;
  SignedHashQueue& operator=(const SignedHashQueue&) = delete;

  // True when a file of `size` bytes is worth queueing.
  static bool takes(size_t size) {
    return size <= kMaxQueuedBytes && HashWorker::worthHandingOver(size);
  }
  // Queues a copy of the `size` bytes at `data` as the bytes of `signedFile`
  // (which outlives the queue); requires takes(size).  Returns false when
  // they are not of the signed size, or a file queued before turned out not
  // to hold its signed bytes; *mismatch is then that file's entry.
  bool add(const ManifestEntry* signedFile, const char* data, size_t size,
           const ManifestEntry** mismatch);
  // Waits for the last file; false (and *mismatch) as add() does.
  bool finish(const ManifestEntry** mismatch);

 private:
  struct Piece {
    std::vector<char> bytes;
    ContentHasher hasher;
    const ManifestEntry* signedFile = nullptr;  // null once its verdict was taken
  };
  // The verdict of `piece`, whose hashing has ended.
  static bool settle(Piece& piece, const ManifestEntry** mismatch);

  HashWorker& worker_;
  Piece pieces_[2];
  int turn_ = 0;  // the piece the next file goes to
};

}  // namespace ovix

#endif  // OVIX_PACKAGE_SIGNED_HASH_QUEUE_H_
