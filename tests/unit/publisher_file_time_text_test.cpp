// File times in the listing: UTC, ISO 8601, every 100 ns step shown, over
// the whole range a FILETIME can hold.
#include <gtest/gtest.h>

#include "publisher/file_time_text.h"

namespace {

TEST(FileTimeText, GivesTheUtcDateAndTimeToTheLastStep) {
  struct Case {
    platform::FileTime time;
    const char* text;
  };
  const Case cases[] = {
      {0, "1601-01-01T00:00:00.0000000Z"},
      {94405823990000000, "1900-02-28T23:59:59.0000000Z"},
      {94405824000000000, "1900-03-01T00:00:00.0000000Z"},  // 1900 has no leap day
      {116444736000000000, "1970-01-01T00:00:00.0000000Z"},
      {125911583999999999, "1999-12-31T23:59:59.9999999Z"},
      {125911584000000000, "2000-01-01T00:00:00.0000000Z"},
      {125962992000000000, "2000-02-29T12:00:00.0000000Z"},  // 2000 has one
      {130740807436702848, "2015-04-21T09:05:43.6702848Z"},
      {2650467743999999999, "9999-12-31T23:59:59.9999999Z"},
      {0x7FFFFFFFFFFFFFFF, "30828-09-14T02:48:05.4775807Z"},
      {0xFFFFFFFFFFFFFFFF, "60056-05-28T05:36:10.9551615Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(publisher::FileTimeText(c.time), c.text);
  }
}

}  // namespace
