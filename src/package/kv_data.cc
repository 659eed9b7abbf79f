#include "package/kv_data.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

char* heapText(char const* value) {
  if (value == nullptr) return nullptr;
  size_t n = std::strlen(value) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  std::memcpy(copy, value, n);
  return copy;
}

}  // namespace

KVData::~KVData() { release(); }

KVData::KVData(const KVData& other) { copyFrom(other); }

KVData& KVData::operator=(const KVData& other) {
  if (this != &other) {
    release();
    copyFrom(other);
  }
  return *this;
}

KVData::KVData(KVData&& other) noexcept
    : type_(std::exchange(other.type_, kNone)),
      text_(std::exchange(other.text_, nullptr)),
      bytes_(std::exchange(other.bytes_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      number_(other.number_),
      double_(other.double_) {}

KVData& KVData::operator=(KVData&& other) noexcept {
  if (this != &other) {
    release();
    type_ = std::exchange(other.type_, kNone);
    text_ = std::exchange(other.text_, nullptr);
    bytes_ = std::exchange(other.bytes_, nullptr);
    size_ = std::exchange(other.size_, 0);
    number_ = other.number_;
    double_ = other.double_;
  }
  return *this;
}

KVData KVData::text(char const* value) {
  KVData d;
  d.setText(value);
  return d;
}

KVData KVData::integer(int32_t value) {
  KVData d;
  d.setInt(value);
  return d;
}

void KVData::release() {
  std::free(text_);
  std::free(bytes_);
  text_ = nullptr;
  bytes_ = nullptr;
  size_ = 0;
  number_ = 0;
  double_ = 0;
  type_ = kNone;
}

void KVData::copyFrom(const KVData& other) {
  type_ = other.type_;
  number_ = other.number_;
  double_ = other.double_;
  text_ = heapText(other.text_);
  size_ = other.size_;
  if (other.bytes_ != nullptr && other.size_ > 0) {
    bytes_ = std::malloc(static_cast<size_t>(other.size_));
    std::memcpy(bytes_, other.bytes_, static_cast<size_t>(other.size_));
  }
}

void KVData::setText(char const* value) {
  release();
  type_ = kText;
  text_ = heapText(value);
}

void KVData::setText(const std::string& value) { setText(value.c_str()); }

void KVData::setInt(int32_t value) {
  release();
  type_ = kInt;
  number_ = value;
}

void KVData::setShort(int16_t value, int type) {
  release();
  type_ = (type == kShort8) ? kShort8 : kShort;
  number_ = value;
}

void KVData::setDouble(double value) {
  release();
  type_ = kDouble;
  double_ = value;
}

void KVData::setBytes(const void* data, int32_t size) {
  release();
  type_ = kBytes;
  if (data != nullptr && size > 0) {
    bytes_ = std::malloc(static_cast<size_t>(size));
    std::memcpy(bytes_, data, static_cast<size_t>(size));
    size_ = size;
  }
}

void KVData::setRaw(int type, int64_t value) {
  release();
  type_ = type;
  number_ = value;
}

void KVData::clear() { release(); }

std::string KVData::toString() const {
  switch (type_) {
    case kText:
      return text_ != nullptr ? text_ : "";
    case kBytes:
      return bytes_ != nullptr ? std::string(static_cast<char*>(bytes_), static_cast<size_t>(size_)) : "";
    case kDouble:
      return std::to_string(double_);
    case kNone:
      return "";
    default:
      return std::to_string(number_);
  }
}
