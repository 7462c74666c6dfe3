// saver_tick_hook.dll: a message hook that saver_soak puts on the saver's window thread. The
// system loads this library into the saver when the hook is first called; from then on every
// timer message the saver takes off its queue is counted in the block shared with
// saver_soak, so the saver's tick rate is seen without changing the saver. It also leaves
// there the saver's processor time and when the messages of its close arrive.
#include <windows.h>

#include "tick_counter.h"

namespace {

soak::TickCounter *gCounter;
bool gOpenTried;
LONG64 gTicksSinceCpuRead;

// Opened on the first call rather than when the library loads: the loader lock is held then,
// and the block is not needed before a message arrives.
soak::TickCounter *Counter() {
  if (gOpenTried) return gCounter;
  gOpenTried = true;
  char name[64];
  soak::TickCounterName(GetCurrentProcessId(), name);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE | FILE_MAP_READ, FALSE, name);
  if (mapping == NULL) return NULL;
  gCounter = static_cast<soak::TickCounter *>(
      MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0, sizeof(soak::TickCounter)));
  // The view keeps the block alive; one handle less in the saver's count to explain.
  CloseHandle(mapping);
  return gCounter;
}

LONG64 Qpc() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Wine tells a process its own processor time, but its answer for another process stops
// growing, so the saver's is read here and left for saver_soak. Every 32nd tick is often
// enough for samples seconds apart.
void RecordCpu(soak::TickCounter *c) {
  if (++gTicksSinceCpuRead < 32) return;
  gTicksSinceCpuRead = 0;
  LONG64 cpu;
  if (soak::ProcessCpu100ns(GetCurrentProcess(), &cpu)) InterlockedExchange64(&c->cpu100ns, cpu);
}

void CountTick(soak::TickCounter *c) {
  LONG64 now = Qpc();
  LONG64 last = c->lastTickQpc;
  if (last != 0) {
    LONG64 gap = now - last;
    // saver_soak resets the longest gap when it reads it; keep the larger of the two.
    LONG64 seen = c->longestGapQpc;
    while (gap > seen) {
      LONG64 was = InterlockedCompareExchange64(&c->longestGapQpc, gap, seen);
      if (was == seen) break;
      seen = was;
    }
  }
  c->lastTickQpc = now;
  InterlockedIncrement64(&c->ticks);
  RecordCpu(c);
}

void RecordFirst(volatile LONG64 *slot) {
  InterlockedCompareExchange64(slot, Qpc(), 0);
}

void WatchClose(soak::TickCounter *c, const MSG *msg) {
  if (!c->watchClose) return;
  if (msg->message == WM_MOUSEMOVE) RecordFirst(&c->mouseMoveQpc);
  if (msg->message == WM_CLOSE) RecordFirst(&c->closeQpc);
  if (msg->message == WM_QUIT) RecordFirst(&c->quitQpc);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    SoakGetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
  soak::TickCounter *c = code == HC_ACTION ? Counter() : NULL;
  if (c != NULL) {
    const MSG *msg = reinterpret_cast<const MSG *>(lParam);
    InterlockedIncrement(&c->hookCalls);
    // A message only peeked at stays queued and would be counted again when taken.
    if (wParam == PM_REMOVE) WatchClose(c, msg);
    if (wParam == PM_REMOVE && msg->message == WM_TIMER) {
      if (reinterpret_cast<LONG64>(msg->hwnd) == c->window)
        CountTick(c);
      else
        InterlockedIncrement64(&c->otherTimers);
    }
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}
