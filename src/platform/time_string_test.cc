#include "platform/time_string.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "testing/scoped_env.h"

namespace {

using ovix::testing::ScopedEnv;

// Seconds since 1970 of a time in UTC.
int64_t utc(int y, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  using namespace std::chrono;
  sys_seconds t = sys_days{year{y} / month / day} + hours{hour} + minutes{minute} + seconds{second};
  return t.time_since_epoch().count();
}

// Written forms, read as local time; fields out of range carry over, short
// or missing texts give 0 and a failed conversion gives -1.
TEST(ParseTimeStringTest, ReadsWrittenFormsAsLocalTime) {
  ScopedEnv zone("TZ", "UTC");
  const std::pair<const char*, int64_t> cases[] = {
      {"2024-05-06", utc(2024, 5, 6)},
      {"2024-05-06 13:45", utc(2024, 5, 6, 13, 45)},
      {"2024", utc(2024, 1, 1)},
      {"2024-", utc(2024, 1, 1)},
      {"2024-05", utc(2024, 5, 1)},
      {"2024-5-6 7:08", utc(2024, 5, 6, 7, 8)},      // one digit, then a separator
      {"2024-05-6", utc(2024, 5, 6)},                // a last single digit at the end
      {"2024/05/06", utc(2024, 5, 6)},
      {"2024-13-01", utc(2025, 1, 1)},
      {"2023-02-30", utc(2023, 3, 2)},
      {"2024-12-31 24:00", utc(2025, 1, 1)},
      {"2024-01-01 00:99", utc(2024, 1, 1, 1, 39)},
      {"2024-00-10", utc(2023, 12, 10)},
      {nullptr, 0},
      {"", 0},
      {"202", 0},
      {"1969-12-31 23:59:59", -1},  // what mktime reports for a failure too
      {"1970-01-01 00:00:00", 0},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(ovix::parseTimeString(text), expected) << text;
}

// Reading and writing follow the local zone and its daylight saving.
TEST(TimeStringTest, FollowTheLocalZoneAndItsDaylightSaving) {
  ScopedEnv zone("TZ", "CST-8");  // the suite's home zone, no daylight saving
  EXPECT_EQ(ovix::parseTimeString("2024-05-06 13:45"), utc(2024, 5, 6, 5, 45));
  EXPECT_EQ(ovix::formatLocalTime(utc(2026, 12, 4, 1, 5), "%Y%m%d_%H%M"), "20261204_0905");
  ScopedEnv berlin("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(ovix::parseTimeString("2024-01-15 12:00"), utc(2024, 1, 15, 11, 0));
  EXPECT_EQ(ovix::parseTimeString("2024-07-15 12:00"), utc(2024, 7, 15, 10, 0));
}

}  // namespace
