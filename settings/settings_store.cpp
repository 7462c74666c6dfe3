// The settings' home in the registry: HKEY_CURRENT_USER\Software\Quorvel\Vandrel.
#include "settings.h"

const char kSettingsKeyPath[] = "Software\\Quorvel\\Vandrel";

static int32_t QuerySetting(HKEY key, const char *name, int32_t fallback) {
  DWORD type = 0;
  int32_t value = 0;
  DWORD size = sizeof value;
  LONG status = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&value), &size);
  return SettingFromQuery(status == ERROR_SUCCESS && size == sizeof value, type, value, fallback);
}

void LoadSettings() {
  gSettings.method = kDefaultMethod;
  gSettings.lossy = kDefaultLossy;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    gSettings.method = QuerySetting(key, "Method", kDefaultMethod);
    gSettings.lossy = QuerySetting(key, "Lossy", kDefaultLossy);
    RegCloseKey(key);
  }
  ClampSettings(gSettings);
}

static void StoreSetting(HKEY key, const char *name, int32_t value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

void SaveSettings() {
  HKEY key;
  char keyClass[] = " ";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, keyClass, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
    return;
  StoreSetting(key, "Method", gSettings.method);
  StoreSetting(key, "Lossy", gSettings.lossy);
  RegCloseKey(key);
}
