// The rules for what a package may name, shared by the pack, the upload
// and the download.

#include "package/file_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ovix::KeyFault;

TEST(FileKeyTest, EachFaultIsToldApart) {
  const std::pair<KeyFault, std::vector<std::string>> cases[] = {
      {KeyFault::kNone,
       {"a.dll", "bin\\v80-win32\\a.dll", "lua/x.lua", "中文\\文件.ini", "a..b", "CONSOLE.dll",
        std::string(255, 'y')}},
      {KeyFault::kEmpty, {""}},
      {KeyFault::kOutside,
       {"..", "..\\x", "a\\..\\..\\x", "C:\\x", "c:x", "a.dll:stream", "\\\\host\\share\\x", "\\x",
        "/etc/x", "a\\\\b", "a\\.\\b", "a/./b", "a\\"}},
      {KeyFault::kControlCharacter, {std::string("a\0b", 3), "a\nb.dll", "a\x1b[31m.dll", "a\x7f"}},
      // Bytes that are not text, an overlong '/' and a character cut short.
      {KeyFault::kInvalidUtf8, {"\xff\xfe.dll", "\xc0\xaf.dll", "\xe4\xb8"}},
      {KeyFault::kReservedName,
       {"a?.dll", "a|b", "bin\\NUL", "com1.txt", "Lpt9", "dir.\\a", "a.dll "}},
      {KeyFault::kNameTooLong, {"bin\\" + std::string(256, 'x')}},
  };
  for (const auto& [fault, keys] : cases) {
    for (const std::string& key : keys) {
      EXPECT_EQ(ovix::checkFileKey(key), fault) << ovix::printableKey(key);
      EXPECT_EQ(ovix::isSafePackageKey(key), fault == KeyFault::kNone) << ovix::printableKey(key);
    }
  }
  EXPECT_EQ(ovix::printableKey("中文\\a.dll"), "中文\\a.dll");
  EXPECT_EQ(ovix::printableKey(std::string("a\nb\x1b\0\xff", 6)), "a\\x0Ab\\x1B\\x00\\xFF");
}

TEST(FileKeyTest, TextFormsAcceptOnlyTheirOwnShape) {
  for (const char* good : {"OVIX_TARNO 2026-12-04 中文", ""})
    EXPECT_TRUE(ovix::isSingleLineText(good)) << good;
  for (const char* bad : {"V3\n[OVIX]", "V3\rPATCH=x", "a\x1b", "\xff"})
    EXPECT_FALSE(ovix::isSingleLineText(bad)) << ovix::printableKey(bad);
  for (const char* good : {"00000000", "DEADBEEF", "deadbeef", "0a1B2c3D"})
    EXPECT_TRUE(ovix::isCrcText(good)) << good;
  for (const char* bad : {"", "0000000", "000000000", "DEADBEEG", " DEADBEE", "0x123456"})
    EXPECT_FALSE(ovix::isCrcText(bad)) << bad;
  EXPECT_TRUE(ovix::sameCrc("deadBEEF", "DEADbeef"));
  EXPECT_FALSE(ovix::sameCrc("DEADBEEF", "DEADBEEE"));
  EXPECT_TRUE(ovix::isPackageKeyText("A3A202612040905"));
  for (const char* bad : {"A3A1", "a3a202612040905", "A3A20261204090", "A3A2026120409055",
                          "..A202612040905", "A3A2026120409/5"})
    EXPECT_FALSE(ovix::isPackageKeyText(bad)) << bad;
}

}  // namespace
