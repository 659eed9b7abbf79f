// The rules for what a package may name, shared by the pack, the upload
// and the download.

#include "package/file_key.h"

#include <gtest/gtest.h>

namespace {

using ovix::KeyFault;

TEST(FileKeyTest, EachFaultIsToldApart) {
  const std::string longName(256, 'x');
  struct Case {
    std::string key;
    KeyFault fault;
  } cases[] = {
      {"a.dll", KeyFault::kNone},
      {"bin\\v80-win32\\a.dll", KeyFault::kNone},
      {"lua/x.lua", KeyFault::kNone},
      {"中文\\文件.ini", KeyFault::kNone},
      {"a..b", KeyFault::kNone},
      {"CONSOLE.dll", KeyFault::kNone},
      {std::string(255, 'y'), KeyFault::kNone},
      {"", KeyFault::kEmpty},
      {"..", KeyFault::kOutside},
      {"..\\x", KeyFault::kOutside},
      {"a\\..\\..\\x", KeyFault::kOutside},
      {"C:\\x", KeyFault::kOutside},
      {"c:x", KeyFault::kOutside},
      {"a.dll:stream", KeyFault::kOutside},
      {"\\\\host\\share\\x", KeyFault::kOutside},
      {"\\x", KeyFault::kOutside},
      {"/etc/x", KeyFault::kOutside},
      {"a\\\\b", KeyFault::kOutside},
      {"a\\.\\b", KeyFault::kOutside},
      {"a/./b", KeyFault::kOutside},
      {"a\\", KeyFault::kOutside},
      {std::string("a\0b", 3), KeyFault::kControlCharacter},
      {"a\nb.dll", KeyFault::kControlCharacter},
      {"a\x1b[31m.dll", KeyFault::kControlCharacter},
      {"a\x7f", KeyFault::kControlCharacter},
      {"\xff\xfe.dll", KeyFault::kInvalidUtf8},
      {"\xc0\xaf.dll", KeyFault::kInvalidUtf8},  // an overlong '/'
      {"\xe4\xb8", KeyFault::kInvalidUtf8},      // cut short
      {"a?.dll", KeyFault::kReservedName},
      {"a|b", KeyFault::kReservedName},
      {"bin\\NUL", KeyFault::kReservedName},
      {"com1.txt", KeyFault::kReservedName},
      {"Lpt9", KeyFault::kReservedName},
      {"dir.\\a", KeyFault::kReservedName},
      {"a.dll ", KeyFault::kReservedName},
      {"bin\\" + longName, KeyFault::kNameTooLong},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ovix::checkFileKey(c.key), c.fault) << ovix::printableKey(c.key);
    EXPECT_EQ(ovix::isSafePackageKey(c.key), c.fault == KeyFault::kNone) << ovix::printableKey(c.key);
  }
}

TEST(FileKeyTest, PrintableKeysShowControlCodesAndBadBytesAsEscapes) {
  EXPECT_EQ(ovix::printableKey("中文\\a.dll"), "中文\\a.dll");
  EXPECT_EQ(ovix::printableKey("a\nb\x1b"), "a\\x0Ab\\x1B");
  EXPECT_EQ(ovix::printableKey(std::string("a\0\xff", 3)), "a\\x00\\xFF");
}

TEST(FileKeyTest, SingleLineTextsHoldNoLineBreakOrControlCode) {
  EXPECT_TRUE(ovix::isSingleLineText("OVIX_TARNO 2026-12-04 中文"));
  EXPECT_TRUE(ovix::isSingleLineText(""));
  for (const char* bad : {"V3\n[OVIX]", "V3\rPATCH=x", "a\x1b", "\xff"})
    EXPECT_FALSE(ovix::isSingleLineText(bad)) << ovix::printableKey(bad);
}

TEST(FileKeyTest, CrcTextsAreEightHexDigitsOfEitherCase) {
  for (const char* good : {"00000000", "DEADBEEF", "deadbeef", "0a1B2c3D"})
    EXPECT_TRUE(ovix::isCrcText(good)) << good;
  for (const char* bad : {"", "0000000", "000000000", "DEADBEEG", " DEADBEE", "0x123456"})
    EXPECT_FALSE(ovix::isCrcText(bad)) << bad;
  EXPECT_TRUE(ovix::sameCrc("deadBEEF", "DEADbeef"));
  EXPECT_FALSE(ovix::sameCrc("DEADBEEF", "DEADBEEE"));
}

TEST(FileKeyTest, PackageKeysAreFifteenCodeCharacters) {
  EXPECT_TRUE(ovix::isPackageKeyText("A3A202612040905"));
  for (const char* bad : {"A3A1", "a3a202612040905", "A3A20261204090", "A3A2026120409055",
                          "..A202612040905", "A3A2026120409/5"})
    EXPECT_FALSE(ovix::isPackageKeyText(bad)) << bad;
}

}  // namespace
