#include "packing/version_input.h"

#include <gtest/gtest.h>

#include "packing/package_key.h"
#include "testing/recording_presenter.h"

namespace {

TEST(VersionDialogTest, DatesAreStoredInTheFixedFormOrRefused) {
  setenv("TZ", "UTC", 1);
  tzset();
  struct Case {
    const char* date;
    bool project;
    const char* stored;  // null: refused, the dialog stays open
  };
  const Case cases[] = {
      {"2024-05-06", false, "2024-05-06-00-00"},
      {"2024-05-06 13:45", false, "2024-05-06-13-45"},
      {"2024/05/06", false, "2024-05-06-00-00"},
      {"2024-13-01", false, "2025-01-01-00-00"},  // carried over
      {"", true, ""},                             // a project may leave it empty
      {"", false, "1970-01-01-00-00"},            // time 0
      {"20", false, "1970-01-01-00-00"},
      {"abcd", false, nullptr},                   // year 0 does not fit the form
      {"9999-13-01", false, nullptr},             // year 10000
  };
  for (const Case& c : cases) {
    ovix::testing::ScopedRecorder recorder;
    ovix::VersionInfo info{"old", "old", "old"};
    bool closed = ovix::versionDialogOk("OVIX_VEL", "V2", c.date, c.project, &info);
    EXPECT_EQ(closed, c.stored != nullptr) << c.date;
    if (c.stored != nullptr) {
      EXPECT_EQ(info.date, c.stored) << c.date;
      EXPECT_EQ(info.name, "OVIX_VEL");
      EXPECT_TRUE(recorder.messages.empty());
    } else {
      EXPECT_EQ(recorder.messages,
                std::vector<std::string>{"日期格式有错，要求为YYYY-MM-DD的格式"});
      EXPECT_EQ(info.date, "old");
    }
  }
}

TEST(PackageKeyTest, CodesAreExactAndTheTimeIsTwelveDigits) {
  setenv("TZ", "UTC", 1);
  tzset();
  struct Case {
    const char* name;
    const char* version;
    const char* kind;
    const char* key;
  };
  const Case cases[] = {
      {"OVIX_TARNO", "V1", "DLL", "A1A202612040905"},
      {"OVIX_QUARNEL", "V6", "CONFIG", "B6B202612040905"},
      {"OVIX_MORBIX", "V4", "INSTALL", "D4C202612040905"},
      {"OVIX_KESTRIL", "V1", "DLL", ""},  // offered, but without a code
      {"ovix_tarno", "V1", "DLL", ""},    // case matters
      {"OVIX_TARNO", "V7", "DLL", ""},
      {"OVIX_TARNO", "V1", "dll", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ovix::encodePackageKey(c.name, c.version, "2026-12-04-09-05", c.kind), c.key)
        << c.name << " " << c.version << " " << c.kind;
  EXPECT_EQ(ovix::encodePackageKey(nullptr, "V1", "2026", "DLL"), "");
}

}  // namespace
