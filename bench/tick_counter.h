// The block that the tick hook, running inside the saver, shares with saver_soak, which reads
// it from outside. Both sides are 64-bit builds of this project, so they agree on its layout.
#pragma once

#include <windows.h>

#include <cstdio>

namespace soak {

struct TickCounter {
  // Written by saver_soak before it sets the hook; the window whose timer is the saver's tick.
  volatile LONG64 window;
  // Written by the hook.
  volatile LONG64 ticks;          // timer messages taken off that window's queue
  volatile LONG64 otherTimers;    // timer messages of any other window of the thread
  volatile LONG64 lastTickQpc;    // performance counter at the last tick
  volatile LONG64 longestGapQpc;  // longest time between two ticks since saver_soak last read it
  volatile LONG64 cpu100ns;       // the saver's processor time as it reads it itself
  volatile LONG hookCalls;        // every call of the hook, counted or not
  // The close path, as performance-counter times of the first such message the saver takes
  // once saver_soak has set `watchClose` (0 until then): its pointer-move message, its close
  // request and the quit message that ends its loop.
  volatile LONG watchClose;
  volatile LONG64 mouseMoveQpc;
  volatile LONG64 closeQpc;
  volatile LONG64 quitQpc;
};

// One block per saver process, so that two runs never share a counter.
inline void TickCounterName(DWORD saverProcessId, char (&name)[64]) {
  std::snprintf(name, sizeof name, "VandrelSoakTicks.%lu",
                static_cast<unsigned long>(saverProcessId));
}

// Kernel and user time of `process` in 100 ns units; false when the system does not say.
inline bool ProcessCpu100ns(HANDLE process, LONG64 *cpu) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  *cpu = static_cast<LONG64>(k.QuadPart + u.QuadPart);
  return true;
}

// The hook procedure's exported name in saver_tick_hook.dll.
const char kHookProcName[] = "SoakGetMessageHook";

}  // namespace soak
