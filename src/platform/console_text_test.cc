#include "platform/console_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Output that is no terminal gets exactly the UTF-8 bytes given, even
// through a stream opened in text mode: no "\r" is added before '\n' and
// none is taken away, so a redirected log reads the same everywhere.
TEST(ConsoleTextTest, RedirectedOutputIsTheUtf8BytesUnchanged) {
  static const struct {
    const char* what;
    std::string text;
  } kCases[] = {
      {"empty", ""},
      {"Chinese line", "补丁已经安装：中文\n"},
      {"lines with both ends", "a\r\nb\nc"},
      {"progress line", "\r打包 42%"},
      {"no line end", "[y/n] "},
  };
  const fs::path path = fs::temp_directory_path() / "ovix_console_text_test.txt";
  for (const auto& c : kCases) {
    std::FILE* f = std::fopen(path.string().c_str(), "w");
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(ovix::isTerminal(f)) << c.what;
    EXPECT_TRUE(ovix::writeText(f, c.text)) << c.what;
    // A second write follows the first in order.
    EXPECT_TRUE(ovix::writeText(f, "\n")) << c.what;
    ASSERT_EQ(std::fclose(f), 0);
    EXPECT_EQ(readBytes(path), c.text + "\n") << c.what;
  }
  fs::remove(path);
  EXPECT_FALSE(ovix::isTerminal(nullptr));
  EXPECT_FALSE(ovix::writeText(nullptr, "x"));
}

}  // namespace
