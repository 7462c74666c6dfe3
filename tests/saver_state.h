// The saver's process-wide records as a new process starts them, for tests that run several
// saver windows in one process.
#pragma once

#include <cstring>

#include "effect/effect.h"
#include "host/host.h"

namespace wintest {

inline void ResetSaverState() {
  std::memset(&gHostState, 0, sizeof gHostState);
  gHostState.instance = GetModuleHandleA(NULL);
  gHostState.mouseThreshold = 4;
  gHostState.lastVerifyTick = kNeverVerified;
  std::memset(&gEffectState, 0, sizeof gEffectState);
}

}  // namespace wintest
