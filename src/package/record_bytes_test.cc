// A record's bytes read back the same through open(), whatever holds them.

#include "package/record_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

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

TEST(RecordBytesTest, OpenReadsTheSameBytesWhateverHoldsThem) {
  std::string lent = "lent bytes";
  struct Case {
    const char* name;
    std::function<void(RecordBytes&)> fill;
    RecordBytes::Kind kind;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"nothing", [](RecordBytes&) {}, RecordBytes::Kind::kNone, ""},
      {"empty copy", [](RecordBytes& b) { b.copyFrom("x", 0); }, RecordBytes::Kind::kNone, ""},
      {"copy", [](RecordBytes& b) { b.copyFrom("copied\0x", 8); }, RecordBytes::Kind::kOwned,
       std::string("copied\0x", 8)},
      {"borrowed", [&](RecordBytes& b) { b.borrow(lent.data(), 10); },
       RecordBytes::Kind::kBorrowed, lent},
      {"adopted heap block",
       [](RecordBytes& b) {
         ZdDbBlock block{4, static_cast<unsigned char*>(std::malloc(4))};
         std::memcpy(block.data, "heap", 4);
         b.adopt(block, true);  // freed by the object: the sanitizer build sees a leak
       },
       RecordBytes::Kind::kOwned, "heap"},
      {"streamed", [](RecordBytes& b) { b.stream(std::make_shared<StringSource>("a streamed file")); },
       RecordBytes::Kind::kStreamed, "a streamed file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordBytes bytes;
    c.fill(bytes);
    EXPECT_EQ(bytes.kind(), c.kind);
    EXPECT_EQ(bytes.size(), static_cast<int64_t>(c.expected.size()));
    EXPECT_EQ(readThrough(bytes), c.expected);
  }
}

TEST(RecordBytesTest, BorrowedBytesAreTheLendersAndAStreamIsReadOnce) {
  std::string lent = "lent";
  RecordBytes bytes;
  bytes.borrow(lent.data(), 4);
  EXPECT_EQ(bytes.block().data, reinterpret_cast<unsigned char*>(lent.data()));
  lent[0] = 'b';  // the lender's change shows: no copy was taken
  EXPECT_EQ(readThrough(bytes), "bent");

  bytes.stream(std::make_shared<StringSource>("once"));
  EXPECT_EQ(bytes.block().data, nullptr);
  EXPECT_EQ(readThrough(bytes), "once");
  EXPECT_EQ(readThrough(bytes), "");  // the shared source is at its end
}

}  // namespace
