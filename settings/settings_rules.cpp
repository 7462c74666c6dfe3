// Defaults and clamps of the settings; no platform calls, so they are tested anywhere.
#include "settings.h"

Settings gSettings = {kDefaultMethod, kDefaultLossy};

int32_t SettingFromQuery(bool queryOk, uint32_t valueType, int32_t storedValue, int32_t fallback) {
  return queryOk && valueType == kRegistryDword ? storedValue : fallback;
}

static int32_t ClampInt(int32_t value, int32_t low, int32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

void ClampSettings(Settings &settings) {
  settings.method = ClampInt(settings.method, SmearGradual, SmearMelting);
  settings.lossy = ClampInt(settings.lossy, 0, 1);
}
