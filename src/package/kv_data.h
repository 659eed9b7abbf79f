// Column values passed to and from the object database.

#ifndef OVIX_PACKAGE_KV_DATA_H_
#define OVIX_PACKAGE_KV_DATA_H_

#include <cstdint>
#include <string>

// A typed value.  Type codes: 4 text (a heap copy owned by the value, may be
// null), 5 32-bit integer, 9 byte block (size and heap block), 1 and 8
// 16-bit integers, 2 double; 3, 6 and 7 carry a 64-bit number as it stands;
// 0 is no value.  Copies are deep.
class KVData {
 public:
  enum Type : int {
    kNone = 0,
    kShort = 1,
    kDouble = 2,
    kType3 = 3,
    kText = 4,
    kInt = 5,
    kType6 = 6,
    kType7 = 7,
    kShort8 = 8,
    kBytes = 9,
  };

  KVData() = default;
  ~KVData();
  KVData(const KVData& other);
  KVData& operator=(const KVData& other);
  KVData(KVData&& other) noexcept;
  KVData& operator=(KVData&& other) noexcept;

  static KVData text(char const* value);
  static KVData integer(int32_t value);

  int type() const { return type_; }
  bool isText() const { return type_ == kText; }

  // Each setter frees the previous text or block first.
  void setText(char const* value);  // null stores a null text of type 4
  void setText(const std::string& value);
  void setInt(int32_t value);
  void setShort(int16_t value, int type = kShort);
  void setDouble(double value);
  void setBytes(const void* data, int32_t size);
  void setRaw(int type, int64_t value);  // codes 3, 6, 7
  void clear();                         // back to kNone

  char const* textValue() const { return type_ == kText ? text_ : nullptr; }
  int32_t intValue() const { return static_cast<int32_t>(number_); }
  int64_t rawValue() const { return number_; }
  double doubleValue() const { return double_; }
  const void* bytes() const { return type_ == kBytes ? bytes_ : nullptr; }
  int32_t byteSize() const { return type_ == kBytes ? size_ : 0; }

  // The value as text for messages and comparisons ("" for none or null).
  std::string toString() const;

 private:
  void release();
  void copyFrom(const KVData& other);

  int type_ = kNone;
  char* text_ = nullptr;
  void* bytes_ = nullptr;
  int32_t size_ = 0;
  int64_t number_ = 0;
  double double_ = 0;
};

// A field name, a second text and a value: one column of a row.
struct KVParams {
  std::string name;
  std::string second;
  KVData value;
};

#endif  // OVIX_PACKAGE_KV_DATA_H_
