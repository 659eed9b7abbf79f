#include "package/package_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/command_log.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(RecordsTest, TextsAreCopiedProductsNeedANameAndCastChecksTheKind) {
  OVIXPackageInfo header, unnamed;
  std::string name = "Ovix";
  header.setName(name.c_str());
  name[0] = 'X';  // the record holds its own copy
  header.setName(nullptr);  // ignored, as is its own pointer
  header.setName(header.name());
  header.setVer("V8.0");
  EXPECT_TRUE(header.isSameProduct("Ovix", "V8.0"));
  EXPECT_FALSE(header.isSameProduct(nullptr, "V8.0"));
  EXPECT_FALSE(unnamed.isSameProduct("Ovix", "V8.0"));
  header.setForce(1);
  header.clear();
  EXPECT_TRUE(header.name() == nullptr && !header.force());

  EXPECT_EQ(registerRecordClasses(), registerRecordClasses());
  std::unique_ptr<ZdRxObject> made(OVIXFileRecord::desc()->create());
  EXPECT_NE(OVIXFileRecord::cast(made.get()), nullptr);
  EXPECT_EQ(OVIXPackageInfo::cast(made.get()), nullptr);
  EXPECT_EQ(OVIXPackageInfo::cast(nullptr), nullptr);
}

TEST(RecordsTest, MainKeyValueIsEscapedForServersOnly) {
  const struct {
    const char* key;
    int dbType, status;
    const char* value;
  } cases[] = {{"\\bin\\a.dll", 2, 0, "\\\\bin\\\\a.dll"}, {"\\bin\\a.dll", 1, 0, "\\bin\\a.dll"},
               {"项目 100% 'q'", 2, 0, "项目 100% 'q'"},   {"", 2, 18, "untouched"},
               {nullptr, 1, 18, "untouched"}};
  for (const auto& c : cases) {
    OVIXFileRecord record;
    record.setSkey(c.key);
    KVData value = KVData::text("untouched");
    EXPECT_EQ(record.getMainKeyValue(c.dbType, value), c.status);
    EXPECT_STREQ(value.textValue(), c.value);
  }
  char* escaped = escapeKeyText("a\\\\b");
  EXPECT_STREQ(escaped, "a\\\\\\\\b");
  std::free(escaped);
  EXPECT_EQ(escapeKeyText(static_cast<char const*>(nullptr)), nullptr);
}

// An empty stream is not saved over the target, which is left; a target
// that cannot be written is logged; files beyond 31 bits are refused.
TEST(RecordsTest, StreamLoadsAndSavesAndAnEmptyOrHugeStreamIsRefused) {
  TempDir dir;
  ovix::Env& env = *ovix::Env::Default();
  zdcom::OVIXCommandLog log(dir.file("job.logfile").c_str());
  std::string bytes("a\0b\xff", 4), target = dir.write("target.dll", "old bytes");
  OVIXFileRecord record;
  EXPECT_TRUE(record.saveStream(env, target.c_str()));
  EXPECT_EQ(dir.read("target.dll"), "old bytes");
  EXPECT_THAT(dir.read("job.logfile"), HasSubstr("无法更新，服务器上下载的数据为空"));
  ASSERT_TRUE(record.loadStream(env, dir.write("in.bin", bytes)));
  ASSERT_TRUE(record.saveStream(env, target.c_str()));
  EXPECT_EQ(dir.read("target.dll"), bytes);
  EXPECT_FALSE(record.saveStream(env, dir.file("no-dir/target.dll").c_str()));
  EXPECT_THAT(dir.read("job.logfile"), HasSubstr("请检查是不是被占用或已经打开"));
  EXPECT_FALSE(record.loadStream(env, dir.file("missing")));
  EXPECT_TRUE(record.stream().size == 0 && record.stream().data == nullptr);

  // A sparse file: the size is real, the disk space is not used.
  std::string huge = dir.write("huge.bin", "");
  std::filesystem::resize_file(huge, (1LL << 31) + 10);
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(record.setStreamFile(env, huge));
  EXPECT_FALSE(record.hasStreamSource());
  EXPECT_TRUE(recorder.messages.empty());  // its caller reports
  EXPECT_FALSE(record.loadStream(env, huge));
  EXPECT_THAT(recorder.messages, ElementsAre(HasSubstr("huge.bin")));
}

// A record's bytes read the same through open() whether copied, lent or
// streamed from a file: memory reads again, a stream only once.
TEST(RecordsTest, BytesReadTheSameThroughOpenWhateverHoldsThem) {
  TempDir dir;
  const std::string bytes("a\0b", 3);
  OVIXFileRecord copied, lent, streamed;
  copied.setStream(bytes.data(), 3);
  lent.setStreamView(bytes.data(), 3);
  ASSERT_TRUE(streamed.setStreamFile(*ovix::Env::Default(), dir.write("f.bin", bytes)));
  for (const OVIXFileRecord* record : {&copied, &lent, &streamed}) {
    for (int pass = 0; pass < 2; ++pass) {
      std::string out(8, '\0');
      size_t got = 0;
      ASSERT_TRUE(record->bytes().open()->read(out.data(), out.size(), &got));
      EXPECT_EQ(out.substr(0, got), record == &streamed && pass == 1 ? "" : bytes) << pass;
    }
  }
}

}  // namespace
