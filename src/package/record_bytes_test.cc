// A record's bytes read back the same through open(), whatever holds them.

#include "package/record_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

using Kind = RecordBytes::Kind;

class StringSource final : public zddb::BlobSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }
  bool read(char* buf, size_t n, size_t* got) override {
    *got = bytes_.copy(buf, std::min<size_t>(n, 3), offset_);  // short reads on purpose
    offset_ += *got;
    return true;
  }

 private:
  std::string bytes_;
  size_t offset_ = 0;
};

std::string readThrough(const RecordBytes& bytes) {
  std::unique_ptr<zddb::BlobSource> reader = bytes.open();
  EXPECT_NE(reader, nullptr);
  std::string out;
  char buf[4];
  for (size_t got = 1; got > 0;) {
    EXPECT_TRUE(reader->read(buf, sizeof buf, &got));
    out.append(buf, got);
  }
  return out;
}

// Each row is opened twice: memory reads again, a shared stream only once.
TEST(RecordBytesTest, OpenReadsTheSameBytesWhateverHoldsThem) {
  std::string lent = "lent";
  auto streamed = [](RecordBytes& b) { b.stream(std::make_shared<StringSource>("streamed")); };
  const struct {
    const char* name;
    std::function<void(RecordBytes&)> fill;
    Kind kind;
    std::string expected;
  } cases[] = {
      {"nothing", [](RecordBytes&) {}, Kind::kNone, ""},
      {"empty copy", [](RecordBytes& b) { b.copyFrom("x", 0); }, Kind::kNone, ""},
      {"copy", [](RecordBytes& b) { b.copyFrom("copied\0x", 8); }, Kind::kOwned,
       std::string("copied\0x", 8)},
      // The lender's change shows: no copy was taken.
      {"borrowed", [&](RecordBytes& b) { b.borrow(lent.data(), 4), lent[0] = 'b'; },
       Kind::kBorrowed, "bent"},
      {"adopted heap block", [](RecordBytes& b) {  // freed here, or the sanitizer sees a leak
         b.adopt({4, static_cast<unsigned char*>(std::memcpy(std::malloc(4), "heap", 4))}, true);
       }, Kind::kOwned, "heap"},
      {"streamed", streamed, Kind::kStreamed, "streamed"},
      {"streamed after borrowed", [&](RecordBytes& b) { b.borrow(lent.data(), 4), streamed(b); },
       Kind::kStreamed, "streamed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordBytes bytes;
    c.fill(bytes);
    EXPECT_EQ(bytes.kind(), c.kind);
    EXPECT_EQ(bytes.size(), static_cast<int64_t>(c.expected.size()));
    EXPECT_EQ(bytes.block().data == nullptr, c.kind == Kind::kStreamed || c.kind == Kind::kNone);
    EXPECT_EQ(readThrough(bytes), c.expected);
    EXPECT_EQ(readThrough(bytes), c.kind == Kind::kStreamed ? "" : c.expected);
  }
}

}  // namespace
