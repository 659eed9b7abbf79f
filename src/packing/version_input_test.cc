#include "packing/version_input.h"

#include <gtest/gtest.h>

#include "packing/package_key.h"
#include "testing/recording_presenter.h"
#include "testing/scoped_env.h"

namespace {

// parseTimeString reads the forms a date may take; the command line's tests
// refuse a date past year 9999 and let a project leave it empty.
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
    EXPECT_EQ(info.date, stored ? stored : "old");
    EXPECT_EQ(info.name, stored ? "OVIX_VEL" : "old");
    EXPECT_EQ(recorder.messages.size(), stored ? 0u : 1u);
  }
}

// The pack job makes keys of the other kinds and refuses names without a
// code.
TEST(PackageKeyTest, CodesAreExactAndTheTimeIsTwelveDigits) {
  ovix::testing::ScopedEnv zone("TZ", "UTC");
  EXPECT_EQ(ovix::encodePackageKey("OVIX_MORBIX", "V4", "2026-12-04-09-05", "INSTALL"),
            "D4C202612040905");
  EXPECT_EQ(ovix::encodePackageKey("ovix_tarno", "V1", "2026-12-04-09-05", "DLL"), "");
  EXPECT_EQ(ovix::encodePackageKey("OVIX_TARNO", "V1", "2026-12-04-09-05", "dll"), "");
  EXPECT_EQ(ovix::encodePackageKey(nullptr, "V1", "2026", "DLL"), "");
}

}  // namespace
