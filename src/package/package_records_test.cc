#include "package/package_records.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/command_log.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override { registerRecordClasses(); }
};

TEST_F(RecordsTest, TextsAreCopiedAndProductsCompareIgnoringCase) {
  OVIXPackageInfo header, unnamed;
  std::string name = "Ovix";
  header.setName(name.c_str());
  name[0] = 'X';  // the record holds its own copy
  header.setName(nullptr);  // ignored, as is its own pointer
  header.setName(header.name());
  header.setVer("V8.0");
  EXPECT_TRUE(header.isSameProduct("OVIX", "v8.0"));
  EXPECT_FALSE(header.isSameProduct("Ovix", "V8.1"));
  EXPECT_FALSE(header.isSameProduct(nullptr, "V8.0"));
  EXPECT_FALSE(unnamed.isSameProduct("Ovix", "V8.0"));
  header.setForce(1);
  header.clear();
  EXPECT_EQ(header.name(), nullptr);
  EXPECT_FALSE(header.force());
}

TEST_F(RecordsTest, MainKeyValueIsEscapedForServersOnly) {
  struct Case {
    const char* key;
    int dbType;
    int status;
    const char* value;
  };
  const Case cases[] = {
      {"\\bin\\a.dll", 2, 0, "\\\\bin\\\\a.dll"},
      {"\\bin\\a.dll", 1, 0, "\\bin\\a.dll"},
      {"项目 100% 'q'", 2, 0, "项目 100% 'q'"},
      {"", 2, 18, "untouched"},
      {nullptr, 1, 18, "untouched"},
  };
  for (const Case& c : cases) {
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

TEST_F(RecordsTest, ClassesAreRegisteredOnceAndCastChecksTheKind) {
  EXPECT_EQ(registerRecordClasses(), registerRecordClasses());
  std::unique_ptr<ZdRxObject> made(OVIXFileRecord::desc()->create());
  EXPECT_NE(OVIXFileRecord::cast(made.get()), nullptr);
  EXPECT_EQ(OVIXPackageInfo::cast(made.get()), nullptr);
  EXPECT_EQ(OVIXPackageInfo::cast(nullptr), nullptr);
}

// An empty stream is not saved over the target, which is left; a target
// that cannot be written is logged.
TEST_F(RecordsTest, StreamLoadsAndSavesAndAnEmptyStreamLeavesTheFile) {
  TempDir dir;
  ovix::Env& env = *ovix::Env::Default();
  zdcom::OVIXCommandLog log(dir.file("job.logfile").c_str());
  std::string bytes("a\0b\xff", 4);
  dir.write("in.bin", bytes);
  dir.write("target.dll", "old bytes");
  OVIXFileRecord record;
  EXPECT_TRUE(record.saveStream(env, dir.file("target.dll").c_str()));
  EXPECT_EQ(dir.read("target.dll"), "old bytes");
  EXPECT_NE(dir.read("job.logfile").find("无法更新，服务器上下载的数据为空"), std::string::npos);

  ASSERT_TRUE(record.loadStream(env, dir.file("in.bin")));
  ASSERT_TRUE(record.saveStream(env, dir.file("target.dll").c_str()));
  EXPECT_EQ(dir.read("target.dll"), bytes);
  EXPECT_FALSE(record.saveStream(env, dir.file("no-dir/target.dll").c_str()));
  EXPECT_NE(dir.read("job.logfile").find("请检查是不是被占用或已经打开"), std::string::npos);

  EXPECT_FALSE(record.loadStream(env, dir.file("missing")));
  EXPECT_EQ(record.stream().size, 0);
  EXPECT_EQ(record.stream().data, nullptr);
}

TEST_F(RecordsTest, FilesBeyondTheThirtyTwoBitSizeAreRefused) {
  TempDir dir;
  std::string path = dir.file("huge.bin");
  // A sparse file: the size is real, the disk space is not used.
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(ftruncate(fileno(f), (1LL << 31) + 10), 0);
  std::fclose(f);
  ovix::testing::ScopedRecorder recorder;
  OVIXFileRecord record;
  EXPECT_FALSE(record.setStreamFile(*ovix::Env::Default(), path));
  EXPECT_FALSE(record.hasStreamSource());
  EXPECT_TRUE(recorder.messages.empty());  // its caller reports
  EXPECT_FALSE(record.loadStream(*ovix::Env::Default(), path));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_NE(recorder.messages[0].find("huge.bin"), std::string::npos);
}

}  // namespace
