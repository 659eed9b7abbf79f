#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ovix::cp936ToUtf8;
using ovix::isValidUtf8;
using ovix::utf8ToCp936;

// "中文" and "一号装置，：（）【】" in both encodings, the code page 936
// bytes taken from the GBK table.
const std::string kChineseUtf8 = "中文";
const std::string kChineseGbk = "\xD6\xD0\xCE\xC4";
const std::string kMixedUtf8 = "NAME=一号装置，：（）【】";
const std::string kMixedGbk =
    "NAME=\xD2\xBB\xBA\xC5\xD7\xB0\xD6\xC3\xA3\xAC\xA3\xBA\xA3\xA8\xA3\xA9\xA1\xBE\xA1\xBF";

// Equal bytes; a long text that differs is described, not printed.
::testing::AssertionResult sameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at byte " << at;
}

std::string repeated(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

TEST(TextEncodingTest, IsValidUtf8) {
  static const struct {
    const char* what;
    std::string text;
    bool valid;
  } kCases[] = {
      {"empty", "", true},
      {"ASCII", "[OVIX]\nNAME=x\n", true},
      {"Chinese", kChineseUtf8, true},
      {"U+0080, the first two-byte", "\xC2\x80", true},
      {"U+07FF, the last two-byte", "\xDF\xBF", true},
      {"U+0800, the first three-byte", "\xE0\xA0\x80", true},
      {"U+D7FF, below the surrogates", "\xED\x9F\xBF", true},
      {"U+E000, above the surrogates", "\xEE\x80\x80", true},
      {"U+10000, the first four-byte", "\xF0\x90\x80\x80", true},
      {"U+10FFFF, the last code point", "\xF4\x8F\xBF\xBF", true},
      {"overlong '/' in two bytes", "\xC0\xAF", false},
      {"overlong U+07FF in three bytes", "\xE0\x9F\xBF", false},
      {"overlong U+FFFF in four bytes", "\xF0\x8F\xBF\xBF", false},
      {"high surrogate", "\xED\xA0\x80", false},
      {"low surrogate", "\xED\xBF\xBF", false},
      {"U+110000", "\xF4\x90\x80\x80", false},
      {"lead byte F5", "\xF5\x80\x80\x80", false},
      {"byte FF", "a\xFF", false},
      {"two-byte cut short at the end", "ab\xC3", false},
      {"three-byte cut short at the end", "\xE4\xB8", false},
      {"four-byte cut short at the end", "\xF0\x9F\x98", false},
      {"three-byte cut short by ASCII", "\xE4\xB8" "A", false},
      {"continuation byte alone", "a\x80z", false},
      {"code page 936 Chinese", kChineseGbk, false},
  };
  for (const auto& c : kCases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.what;
}

TEST(TextEncodingTest, Cp936ToUtf8) {
  static const struct {
    const char* what;
    std::string cp936;
    bool ok;
    std::string utf8;
  } kCases[] = {
      {"empty", "", true, ""},
      {"ASCII", "[OVIX]\r\nIP=10.0.0.1\n", true, "[OVIX]\r\nIP=10.0.0.1\n"},
      {"Chinese", kChineseGbk, true, kChineseUtf8},
      {"Chinese and full-width punctuation", kMixedGbk, true, kMixedUtf8},
      // More than the converters' working buffers hold at once.
      {"long", repeated(kChineseGbk + "abc", 3000), true, repeated(kChineseUtf8 + "abc", 3000)},
      {"lead byte at the end", "NAME=\xD6", false, ""},
      {"lead byte before a byte that cannot follow it", "\xD6\x20", false, ""},
  };
  for (const auto& c : kCases) {
    std::string out = "left over";
    EXPECT_EQ(cp936ToUtf8(c.cp936, &out), c.ok) << c.what;
    if (c.ok) {
      EXPECT_TRUE(sameBytes(out, c.utf8)) << c.what;
    }
  }
}

TEST(TextEncodingTest, Utf8ToCp936) {
  static const struct {
    const char* what;
    std::string utf8;
    bool ok;
    std::string cp936;
  } kCases[] = {
      {"empty", "", true, ""},
      {"ASCII", "[OVIX]\nIP=10.0.0.1\n", true, "[OVIX]\nIP=10.0.0.1\n"},
      {"Chinese", kChineseUtf8, true, kChineseGbk},
      {"Chinese and full-width punctuation", kMixedUtf8, true, kMixedGbk},
      {"long", repeated(kChineseUtf8 + "abc", 3000), true, repeated(kChineseGbk + "abc", 3000)},
      // Characters GBK lacks: nothing may stand in for them.
      {"Hangul", "NAME=한국", false, ""},
      {"emoji", "NAME=\xF0\x9F\x98\x80", false, ""},
      {"surrogate", "\xED\xA0\x80", false, ""},
      {"not UTF-8 at all", kChineseGbk, false, ""},
  };
  for (const auto& c : kCases) {
    std::string out = "left over";
    EXPECT_EQ(utf8ToCp936(c.utf8, &out), c.ok) << c.what;
    if (c.ok) {
      EXPECT_TRUE(sameBytes(out, c.cp936)) << c.what;
    }
  }
}

}  // namespace
