// Lock names: one per project database, short enough for every server.

#include "project/project_lock.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// A shortened name keeps a prefix of the full one that ends between two
// UTF-8 characters, and a CRC after '#'.
TEST(ProjectLockNameTest, LongNamesAreShortenedWithoutLosingTheirIdentity) {
  const std::string chinese = "某化工厂二期工程配管设计项目数据库";  // 3 bytes a character
  const std::string a51(51, 'a'), a80(80, 'a');
  std::set<std::string> seen;
  for (const std::string& name : {std::string("plant"), a51, a51 + "a", a80 + "1", a80 + "2",
                                  chinese + "一", chinese + "二", "x" + chinese}) {
    SCOPED_TRACE(name);
    const std::string full = "ovix.project:" + name;
    std::string lock = zdcom::AutoProjectLock::lockName(name);
    const std::string kept = lock.substr(0, lock.rfind('#'));
    EXPECT_LE(lock.size(), 64u);
    EXPECT_EQ(full.compare(0, kept.size(), kept), 0);
    EXPECT_TRUE(kept.size() == full.size() ||
                (static_cast<unsigned char>(full[kept.size()]) & 0xC0) != 0x80);
    EXPECT_TRUE(seen.insert(lock).second) << "two projects share " << lock;
  }
  EXPECT_EQ(zdcom::AutoProjectLock::lockName("plant"), "ovix.project:plant");
}

}  // namespace
