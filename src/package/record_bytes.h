// The bytes a file record carries, wherever they are.

#ifndef OVIX_PACKAGE_RECORD_BYTES_H_
#define OVIX_PACKAGE_RECORD_BYTES_H_

#include <cstdint>
#include <memory>

#include "package/db_connection.h"
#include "package/db_filter.h"

// A record's bytes are one of:
//   owned     a heap copy, freed with the object;
//   borrowed  memory that belongs to someone else: a caller's buffer, or
//             the row a statement is positioned on;
//   streamed  a source read front to back in chunks: a file, a value in
//             another database, or a large value of the row being read.
// Borrowed bytes and the source of a row's value are valid only until that
// row moves on (or the lender changes its buffer): read them during the
// visit of the row.  A streamed source can be read once.
class RecordBytes {
 public:
  enum class Kind { kNone, kOwned, kBorrowed, kStreamed };

  RecordBytes() = default;
  ~RecordBytes() { clear(); }
  RecordBytes(const RecordBytes&) = delete;
  RecordBytes& operator=(const RecordBytes&) = delete;

  // A copy of `size` bytes at `data`; no bytes when size is not positive.
  void copyFrom(const void* data, int32_t size);
  // `size` bytes at `data`, which the lender keeps alive and unchanged.
  void borrow(const void* data, int32_t size);
  // The bytes of `source` (shared with whoever else holds it).
  void stream(std::shared_ptr<zddb::BlobSource> source);
  // A block read from a row: a heap copy when `owned` (freed here), else
  // the row's own memory.
  void adopt(const ZdDbBlock& block, bool owned);
  void clear();

  Kind kind() const { return kind_; }
  bool isStreamed() const { return kind_ == Kind::kStreamed; }
  // How many bytes there are (a source's announced size).
  int64_t size() const;
  // The bytes when they are in memory; an empty block when streamed.
  const ZdDbBlock& block() const { return block_; }
  // A reader of the bytes from the first one, whatever the kind; never null
  // (no bytes give a reader at its end).  A streamed reader reads the shared
  // source itself.
  std::unique_ptr<zddb::BlobSource> open() const;
  // The shared source of streamed bytes; null otherwise.
  zddb::BlobSource* source() const { return source_.get(); }

 private:
  Kind kind_ = Kind::kNone;
  ZdDbBlock block_;
  std::shared_ptr<zddb::BlobSource> source_;
};

#endif  // OVIX_PACKAGE_RECORD_BYTES_H_
