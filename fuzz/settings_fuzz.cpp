// The settings rules on arbitrary registry outcomes: whatever comes back, the settings end in
// range, and clamping twice changes nothing.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <cstring>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  struct {
    uint8_t okMethod, okLossy;
    uint32_t typeMethod, typeLossy;
    int32_t method, lossy;
  } input = {};
  memcpy(&input, data, size < sizeof input ? size : sizeof input);
  Settings s;
  s.method = SettingFromQuery(input.okMethod & 1, input.typeMethod, input.method, kDefaultMethod);
  s.lossy = SettingFromQuery(input.okLossy & 1, input.typeLossy, input.lossy, kDefaultLossy);
  ClampSettings(s);
  if (s.method < SmearGradual || s.method > SmearMelting || s.lossy < 0 || s.lossy > 1)
    std::abort();
  Settings again = s;
  ClampSettings(again);
  if (again.method != s.method || again.lossy != s.lossy) std::abort();
  if ((input.okMethod & 1) && input.typeMethod == kRegistryDword && input.method >= 1 &&
      input.method <= 3 && s.method != input.method)
    std::abort();
  return 0;
}
