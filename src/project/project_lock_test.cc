// Lock names: one per project database, short enough for every server.

#include "project/project_lock.h"

#include <gtest/gtest.h>

#include <set>

namespace {

bool isWholeUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

TEST(ProjectLockNameTest, LongNamesAreShortenedWithoutLosingTheirIdentity) {
  const std::string chinese = "某化工厂二期工程配管设计项目数据库";  // 3 bytes a character
  const std::vector<std::string> names = {
      "plant",
      std::string(51, 'a'),
      std::string(52, 'a'),
      std::string(80, 'a') + "1",
      std::string(80, 'a') + "2",
      chinese + "一",
      chinese + "二",
  };
  std::set<std::string> seen;
  for (const std::string& name : names) {
    std::string lock = zdcom::AutoProjectLock::lockName(name);
    EXPECT_LE(lock.size(), 64u) << name;
    EXPECT_TRUE(isWholeUtf8(lock)) << name;
    EXPECT_TRUE(seen.insert(lock).second) << "two projects share " << lock;
    EXPECT_EQ(lock, zdcom::AutoProjectLock::lockName(name));
  }
  EXPECT_EQ(zdcom::AutoProjectLock::lockName("plant"), "ovix.project:plant");
}

}  // namespace
