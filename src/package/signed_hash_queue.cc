#include "package/signed_hash_queue.h"

namespace ovix {

bool SignedHashQueue::settle(Piece& piece, const ManifestEntry** mismatch) {
  if (piece.signedFile == nullptr) return true;
  const ManifestEntry* signedFile = piece.signedFile;
  piece.signedFile = nullptr;
  if (piece.hasher.finish() == signedFile->hash) return true;
  *mismatch = signedFile;
  return false;
}

bool SignedHashQueue::add(const ManifestEntry* signedFile, const char* data, size_t size,
                          const ManifestEntry** mismatch) {
  if (size != signedFile->size) {
    *mismatch = signedFile;
    return false;
  }
  // Only the piece handed over last can be in flight, and that is the
  // other one: this one's verdict was taken when it was handed over.
  Piece& piece = pieces_[turn_];
  piece.bytes.assign(data, data + size);
  piece.hasher = ContentHasher();
  piece.signedFile = signedFile;
  worker_.feed(&piece.hasher, piece.bytes.data(), size);  // waits for the piece before
  turn_ ^= 1;
  return settle(pieces_[turn_], mismatch);
}

bool SignedHashQueue::finish(const ManifestEntry** mismatch) {
  worker_.wait();
  return settle(pieces_[turn_], mismatch) && settle(pieces_[turn_ ^ 1], mismatch);
}

}  // namespace ovix
