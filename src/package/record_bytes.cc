#include "package/record_bytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

class MemoryReader final : public zddb::BlobSource {
 public:
  explicit MemoryReader(const ZdDbBlock& block) : block_(block) {}
  int64_t size() const override { return block_.size; }
  bool read(char* buf, size_t n, size_t* got) override {
    *got = std::min(n, static_cast<size_t>(block_.size) - offset_);
    if (*got > 0) std::memcpy(buf, block_.data + offset_, *got);
    offset_ += *got;
    return true;
  }

 private:
  ZdDbBlock block_;
  size_t offset_ = 0;
};

class SharedReader final : public zddb::BlobSource {
 public:
  explicit SharedReader(std::shared_ptr<zddb::BlobSource> source) : source_(std::move(source)) {}
  int64_t size() const override { return source_->size(); }
  bool read(char* buf, size_t n, size_t* got) override { return source_->read(buf, n, got); }

 private:
  std::shared_ptr<zddb::BlobSource> source_;
};

}  // namespace

void RecordBytes::copyFrom(const void* data, int32_t size) {
  clear();
  if (data == nullptr || size <= 0) return;
  block_.data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
  std::memcpy(block_.data, data, static_cast<size_t>(size));
  block_.size = size;
  kind_ = Kind::kOwned;
}

void RecordBytes::borrow(const void* data, int32_t size) {
  clear();
  if (data == nullptr || size <= 0) return;
  block_.data = static_cast<unsigned char*>(const_cast<void*>(data));
  block_.size = size;
  kind_ = Kind::kBorrowed;
}

void RecordBytes::stream(std::shared_ptr<zddb::BlobSource> source) {
  clear();
  if (source == nullptr) return;
  source_ = std::move(source);
  kind_ = Kind::kStreamed;
}

void RecordBytes::adopt(const ZdDbBlock& block, bool owned) {
  clear();
  if (block.data == nullptr || block.size <= 0) {
    if (owned) std::free(block.data);
    return;
  }
  block_ = block;
  kind_ = owned ? Kind::kOwned : Kind::kBorrowed;
}

void RecordBytes::clear() {
  if (kind_ == Kind::kOwned) std::free(block_.data);
  block_ = {};
  source_.reset();
  kind_ = Kind::kNone;
}

int64_t RecordBytes::size() const { return source_ ? source_->size() : block_.size; }

std::unique_ptr<zddb::BlobSource> RecordBytes::open() const {
  if (source_) return std::make_unique<SharedReader>(source_);
  return std::make_unique<MemoryReader>(block_);
}
