// The settings store against the registry of the build tree's own Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "registry_shapes.h"
#include "settings/settings.h"

namespace {

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override { wintest::DeleteKeyTree(HKEY_CURRENT_USER, kVendorKeyPath); }
  void TearDown() override { wintest::DeleteKeyTree(HKEY_CURRENT_USER, kVendorKeyPath); }

  static constexpr const char *kVendorKeyPath = "Software\\Quorvel";

  static HKEY Key() {
    HKEY key;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    return key;
  }
  static void Store(const char *name, DWORD type, const void *data, DWORD size) {
    HKEY key = Key();
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void StoreDword(const char *name, int32_t value) {
    Store(name, REG_DWORD, &value, sizeof value);
  }
  static Settings Loaded() {
    gSettings = {-77, -77};
    LoadSettings();
    return gSettings;
  }
  static bool ReadStored(const char *name, DWORD &type, int32_t &value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size == 4;
  }
};

TEST_F(SettingsStore, NoKeyGivesTheDefaults) {
  Settings s = Loaded();
  EXPECT_EQ(s.method, 2);
  EXPECT_EQ(s.lossy, 0);
}

TEST_F(SettingsStore, ReadsStoredDwordsAndClampsThem) {
  struct Case {
    int32_t method, lossy, expectedMethod, expectedLossy;
  } cases[] = {
      {1, 1, 1, 1},   {3, 0, 3, 0}, {0, 5, 1, 1},
      {-4, -1, 1, 0}, {7, 2, 3, 1}, {INT32_MIN, INT32_MAX, 1, 1},
  };
  for (const Case &c : cases) {
    StoreDword("Method", c.method);
    StoreDword("Lossy", c.lossy);
    Settings s = Loaded();
    EXPECT_EQ(s.method, c.expectedMethod) << c.method;
    EXPECT_EQ(s.lossy, c.expectedLossy) << c.lossy;
  }
}

// A misread would show: every shape holds a 3, which no default is and which the clamps keep
// visible (method 3, lossy 1).
TEST_F(SettingsStore, EveryShapeButADwordFallsBackOneValueAtATime) {
  for (const wintest::RegistryShape &shape : wintest::ShapesOtherThanDword(3)) {
    HKEY key = Key();
    EXPECT_EQ(wintest::StoreShape(key, "Method", shape), ERROR_SUCCESS) << shape.name;
    RegCloseKey(key);
    StoreDword("Lossy", 1);
    Settings s = Loaded();
    EXPECT_EQ(s.method, 2) << shape.name;
    EXPECT_EQ(s.lossy, 1) << shape.name;

    key = Key();
    EXPECT_EQ(wintest::StoreShape(key, "Lossy", shape), ERROR_SUCCESS) << shape.name;
    RegCloseKey(key);
    StoreDword("Method", 1);
    s = Loaded();
    EXPECT_EQ(s.method, 1) << shape.name;
    EXPECT_EQ(s.lossy, 0) << shape.name;
  }
}

TEST_F(SettingsStore, KeysWhereValuesBelongAndAValueWhereTheKeyBelongs) {
  HKEY key = Key(), sub;
  ASSERT_EQ(RegCreateKeyA(key, "Method", &sub), ERROR_SUCCESS);
  RegCloseKey(sub);
  ASSERT_EQ(RegCreateKeyA(key, "Lossy", &sub), ERROR_SUCCESS);
  RegCloseKey(sub);
  RegCloseKey(key);
  Settings s = Loaded();
  EXPECT_EQ(s.method, 2);
  EXPECT_EQ(s.lossy, 0);

  wintest::DeleteKeyTree(HKEY_CURRENT_USER, kVendorKeyPath);
  HKEY vendor;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kVendorKeyPath, &vendor), ERROR_SUCCESS);
  const int32_t three = 3;
  RegSetValueExA(vendor, "Vandrel", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&three), 4);
  RegCloseKey(vendor);
  s = Loaded();
  EXPECT_EQ(s.method, 2);
  EXPECT_EQ(s.lossy, 0);
  // Saving still makes the key beside the stray value, with clean numbers in it.
  gSettings = {3, 1};
  SaveSettings();
  DWORD type = 0;
  int32_t value = 0;
  ASSERT_TRUE(ReadStored("Method", type, value));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 3);
  EXPECT_EQ(Loaded().lossy, 1);
}

TEST_F(SettingsStore, AKeyThatCannotBeReadGivesTheDefaultsAndKeepsWhatItHolds) {
  StoreDword("Method", 1);
  StoreDword("Lossy", 1);
  {
    wintest::ReadingDenied denied(HKEY_CURRENT_USER, kSettingsKeyPath);
    ASSERT_TRUE(denied.Holds(HKEY_CURRENT_USER, kSettingsKeyPath));
    Settings s = Loaded();
    EXPECT_EQ(s.method, 2);
    EXPECT_EQ(s.lossy, 0);
    gSettings = {3, 0};
    SaveSettings();  // cannot open the key for writing either: a silent no-op
    EXPECT_EQ(gSettings.method, 3);
  }
  Settings s = Loaded();
  EXPECT_EQ(s.method, 1);
  EXPECT_EQ(s.lossy, 1);
}

TEST_F(SettingsStore, SaveCreatesTheKeyWithASpaceForItsClass) {
  gSettings = {3, 1};
  SaveSettings();
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  char keyClass[16] = {};
  DWORD classLength = sizeof keyClass;
  ASSERT_EQ(RegQueryInfoKeyA(key, keyClass, &classLength, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                             NULL, NULL),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::string(keyClass, classLength), " ");

  DWORD type = 0;
  int32_t value = 0;
  ASSERT_TRUE(ReadStored("Method", type, value));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 3);
  ASSERT_TRUE(ReadStored("Lossy", type, value));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 1);
}

TEST_F(SettingsStore, SaveReplacesWhatWasThereWithCleanDwords) {
  const char text[] = "garbage";
  Store("Method", REG_SZ, text, sizeof text);
  StoreDword("Lossy", 1);
  gSettings = {1, 0};
  SaveSettings();
  Settings s = Loaded();
  EXPECT_EQ(s.method, 1);
  EXPECT_EQ(s.lossy, 0);
  DWORD type = 0;
  int32_t value = 0;
  ASSERT_TRUE(ReadStored("Method", type, value));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
}

}  // namespace
