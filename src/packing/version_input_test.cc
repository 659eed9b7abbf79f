#include "packing/version_input.h"

#include <gtest/gtest.h>

#include "packing/package_key.h"
#include "testing/recording_presenter.h"
#include "testing/scoped_env.h"

namespace {

// An empty date of a project is taken by the command line's tests.
TEST(VersionDialogTest, DatesAreStoredInTheFixedFormOrRefused) {
  ovix::testing::ScopedEnv zone("TZ", "UTC");
  const std::pair<const char*, const char*> cases[] = {
      {"2024-05-06 13:45", "2024-05-06-13-45"},
      {"", "1970-01-01-00-00"},  // time 0
      {"abcd", nullptr},         // year 0 does not fit the form: refused
  };
  for (const auto& [date, stored] : cases) {
    SCOPED_TRACE(date);
    ovix::testing::ScopedRecorder recorder;
    ovix::VersionInfo info{"old", "old", "old"};
    EXPECT_EQ(ovix::versionDialogOk("OVIX_VEL", "V2", date, false, &info), stored != nullptr);
    EXPECT_EQ(info.date + info.name, stored ? stored + std::string("OVIX_VEL") : "oldold");
    EXPECT_EQ(recorder.messages.size(), stored ? 0u : 1u);
  }
}

TEST(PackageKeyTest, CodesAreExactAndTheTimeIsTwelveDigits) {
  ovix::testing::ScopedEnv zone("TZ", "UTC");
  const char* time = "2026-12-04-09-05";
  EXPECT_EQ(ovix::encodePackageKey("OVIX_MORBIX", "V4", time, "INSTALL"), "D4C202612040905");
  EXPECT_EQ(ovix::encodePackageKey("ovix_tarno", "V1", time, "DLL"), "");
  EXPECT_EQ(ovix::encodePackageKey("OVIX_TARNO", "V1", time, "dll"), "");
  EXPECT_EQ(ovix::encodePackageKey(nullptr, "V1", time, "DLL"), "");
}

}  // namespace
