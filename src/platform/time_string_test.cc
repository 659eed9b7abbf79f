#include "platform/time_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Runs a test body with the local time zone set to `zone`.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (saved_.empty()) unsetenv("TZ"); else setenv("TZ", saved_.c_str(), 1);
    tzset();
  }

 private:
  std::string saved_;
};

int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return timegm(&t);
}

TEST(ParseTimeStringTest, ReadsEveryWrittenFormAsLocalTime) {
  TimeZone zone("UTC");
  struct Case {
    const char* text;
    int64_t expected;
  };
  const Case cases[] = {
      {"2024-05-06", utc(2024, 5, 6)},
      {"2024-05-06-13-45", utc(2024, 5, 6, 13, 45)},
      {"2024-05-06 13:45", utc(2024, 5, 6, 13, 45)},
      {"202405061345", utc(2024, 5, 6, 13, 45)},
      {"2024-05-06 13:45:59", utc(2024, 5, 6, 13, 45, 59)},
      {"2024", utc(2024, 1, 1)},
      {"2024-", utc(2024, 1, 1)},
      {"2024-05", utc(2024, 5, 1)},
      {"2024-5-6 7:08", utc(2024, 5, 6, 7, 8)},   // one digit, then a separator
      {"2024-05-6", utc(2024, 5, 6)},             // a last single digit at the end
      {"2026-12-04-09-05", utc(2026, 12, 4, 9, 5)},  // a pack time
      {"202612040905", utc(2026, 12, 4, 9, 5)},      // a package key after its codes
      {"2024/05/06", utc(2024, 5, 6)},
  };
  for (const Case& c : cases) EXPECT_EQ(ovix::parseTimeString(c.text), c.expected) << c.text;
}

TEST(ParseTimeStringTest, ShortOrMissingTextGivesZero) {
  TimeZone zone("UTC");
  EXPECT_EQ(ovix::parseTimeString(nullptr), 0);
  EXPECT_EQ(ovix::parseTimeString(""), 0);
  EXPECT_EQ(ovix::parseTimeString("202"), 0);
}

TEST(ParseTimeStringTest, OutOfRangeFieldsCarryOver) {
  TimeZone zone("UTC");
  EXPECT_EQ(ovix::parseTimeString("2024-13-01"), utc(2025, 1, 1));
  EXPECT_EQ(ovix::parseTimeString("2023-02-30"), utc(2023, 3, 2));
  EXPECT_EQ(ovix::parseTimeString("2024-12-31 24:00"), utc(2025, 1, 1));
  EXPECT_EQ(ovix::parseTimeString("2024-01-01 00:99"), utc(2024, 1, 1, 1, 39));
  EXPECT_EQ(ovix::parseTimeString("2024-00-10"), utc(2023, 12, 10));
}

TEST(ParseTimeStringTest, FollowsTheLocalZoneAndItsDaylightSaving) {
  TimeZone zone("CST-8");  // the suite's home zone, no daylight saving
  EXPECT_EQ(ovix::parseTimeString("2024-05-06 13:45"), utc(2024, 5, 6, 5, 45));
  TimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(ovix::parseTimeString("2024-01-15 12:00"), utc(2024, 1, 15, 11, 0));
  EXPECT_EQ(ovix::parseTimeString("2024-07-15 12:00"), utc(2024, 7, 15, 10, 0));
}

TEST(ParseTimeStringTest, TheConversionsErrorValueIsMinusOne) {
  TimeZone zone("UTC");
  // One second before the epoch is what mktime reports for a failure too.
  EXPECT_EQ(ovix::parseTimeString("1969-12-31 23:59:59"), -1);
  EXPECT_EQ(ovix::parseTimeString("1970-01-01 00:00:00"), 0);
}

TEST(FormatLocalTimeTest, FormatsInTheLocalZone) {
  TimeZone zone("UTC");
  EXPECT_EQ(ovix::formatLocalTime(utc(2026, 12, 4, 9, 5), "%Y%m%d_%H%M"), "20261204_0905");
}

}  // namespace
