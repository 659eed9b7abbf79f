#include "platform/console_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "testing/temp_dir.h"

namespace {

// Output that is no terminal gets exactly the UTF-8 bytes given, in order,
// even through a stream opened in text mode: no "\r" is added before '\n'
// and none is taken away, so a redirected log reads the same everywhere.
TEST(ConsoleTextTest, RedirectedOutputIsTheUtf8BytesUnchanged) {
  ovix::testing::TempDir dir;
  std::FILE* f = std::fopen(dir.file("out.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(ovix::isTerminal(f));
  std::string all;
  for (std::string piece : {"", "补丁已经安装：中文\n", "a\r\nb\nc", "\r打包 42%", "[y/n] "}) {
    EXPECT_TRUE(ovix::writeText(f, piece)) << piece;
    all += piece;
  }
  ASSERT_EQ(std::fclose(f), 0);
  EXPECT_EQ(dir.read("out.txt"), all);
  EXPECT_FALSE(ovix::isTerminal(nullptr));
  EXPECT_FALSE(ovix::writeText(nullptr, "x"));
}

}  // namespace
