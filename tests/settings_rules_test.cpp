// Defaults and clamps of the two settings.
#include <gtest/gtest.h>

#include "settings/settings.h"

namespace {

Settings Clamped(int32_t method, int32_t lossy) {
  Settings s = {method, lossy};
  ClampSettings(s);
  return s;
}

TEST(ClampSettings, ForcesBothFieldsIntoRangeWithSignedComparisons) {
  struct Case {
    int32_t method, lossy, expectedMethod, expectedLossy;
  } cases[] = {
      {1, 0, 1, 0},
      {2, 1, 2, 1},
      {3, 0, 3, 0},
      {0, 0, 1, 0},
      {-5, 0, 1, 0},
      {7, 5, 3, 1},
      {INT32_MIN, INT32_MIN, 1, 0},
      {INT32_MAX, INT32_MAX, 3, 1},
      {static_cast<int32_t>(0xFFFFFFFFu), static_cast<int32_t>(0xFFFFFFFFu), 1, 0},
      {static_cast<int32_t>(0x80000001u), static_cast<int32_t>(0x7FFFFFFFu), 1, 1},
  };
  for (const Case &c : cases) {
    Settings s = Clamped(c.method, c.lossy);
    EXPECT_EQ(s.method, c.expectedMethod) << c.method;
    EXPECT_EQ(s.lossy, c.expectedLossy) << c.lossy;
  }
}

TEST(SettingFromQuery, TakesOnlyASuccessfulDwordAndOtherwiseTheFallback) {
  EXPECT_EQ(SettingFromQuery(true, kRegistryDword, 3, 2), 3);
  EXPECT_EQ(SettingFromQuery(true, kRegistryDword, -1, 2), -1);  // clamped later, not here
  EXPECT_EQ(SettingFromQuery(false, kRegistryDword, 3, 2), 2);
  for (uint32_t type : {0u, 1u, 2u, 3u, 5u, 7u, 11u, 0xFFFFFFFFu})
    EXPECT_EQ(SettingFromQuery(true, type, 3, 2), 2) << type;
}

}  // namespace
