#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ::testing::PrintToString;

TEST(TextEncodingTest, IsValidUtf8) {
  // The first and the last code point of each length, and those around the
  // surrogates.
  for (std::string text : {"", "[OVIX]\nNAME=x\n", "中文", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80",
                           "\xED\x9F\xBF", "\xEE\x80\x80", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(ovix::isValidUtf8(text)) << PrintToString(text);
  // Overlong forms of two, three and four bytes; surrogates; U+110000 and
  // beyond; a sequence cut short at the end or by ASCII; a continuation
  // byte alone; code page 936 Chinese.
  for (std::string text : {"\xC0\xAF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80",
                           "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "a\xFF",
                           "ab\xC3", "\xE4\xB8", "\xF0\x9F\x98", "\xE4\xB8" "A", "a\x80z",
                           "\xD6\xD0\xCE\xC4"})
    EXPECT_FALSE(ovix::isValidUtf8(text)) << PrintToString(text);
}

std::string repeated(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

// The code page 936 bytes are taken from the GBK table.  The long text is
// more than the converters' working buffers hold at once.
TEST(TextEncodingTest, Cp936AndUtf8ConvertBothWaysByteForByte) {
  const std::string kChinese[2] = {"中文", "\xD6\xD0\xCE\xC4"};
  const std::string pairs[][2] = {
      {"", ""},
      {"NAME=一号装置，：（）【】",
       "NAME=\xD2\xBB\xBA\xC5\xD7\xB0\xD6\xC3\xA3\xAC\xA3\xBA\xA3\xA8\xA3\xA9\xA1\xBE\xA1\xBF"},
      {repeated(kChinese[0] + "abc", 3000), repeated(kChinese[1] + "abc", 3000)},
  };
  std::string out = "left over";
  for (const auto& [utf8, cp936] : pairs) {
    const std::string what = PrintToString(utf8.substr(0, 40));
    EXPECT_TRUE(ovix::cp936ToUtf8(cp936, &out) && out == utf8) << what;
    EXPECT_TRUE(ovix::utf8ToCp936(utf8, &out) && out == cp936) << what;
  }
  // A lead byte at the end, or before a byte that cannot follow it.
  for (std::string cp936 : {"NAME=\xD6", "\xD6\x20"})
    EXPECT_FALSE(ovix::cp936ToUtf8(cp936, &out)) << PrintToString(cp936);
  // Characters GBK lacks (nothing may stand in for them), and no UTF-8.
  for (std::string utf8 : {"NAME=\xF0\x9F\x98\x80", "\xED\xA0\x80", "\xD6\xD0\xCE\xC4"})
    EXPECT_FALSE(ovix::utf8ToCp936(utf8, &out)) << PrintToString(utf8);
}

}  // namespace
