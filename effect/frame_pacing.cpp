// When the working image reaches the window: a frame after a step, once the last frame is far
// enough behind for what frames cost on this display.
#include "../host/host.h"
#include "effect.h"

// The first frame is due at once, so the first tick already shows on the screen.
void ShowFrameIfDue(uint32_t earlyMs) {
  EffectState &e = gEffectState;
  if (e.image.dc == NULL) return;
  uint32_t now = GetTickCount();
  if (e.frameShown && ElapsedMs(e.lastFrameTick, now) + earlyMs < FrameIntervalMs(e.frameCostUs))
    return;
  // The tick count moves in steps of 10 to 16 ms, coarser than a frame at 1920x1080; the
  // performance counter is fine enough, where the machine has one.
  LARGE_INTEGER frequency, start, end;
  bool counted = QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 &&
                 QueryPerformanceCounter(&start);
  BitBlt(e.dc, e.imageOffset.x, e.imageOffset.y, e.right - e.left, e.bottom - e.top, e.image.dc, 0,
         0, SRCCOPY);
  // A batching system would otherwise count only the queueing of the blit.
  GdiFlush();
  uint32_t cost = counted && QueryPerformanceCounter(&end)
                      ? CounterSpanUs(static_cast<uint64_t>(start.QuadPart),
                                      static_cast<uint64_t>(end.QuadPart),
                                      static_cast<uint64_t>(frequency.QuadPart))
                      : TickSpanUs(now, GetTickCount());
  e.frameCostUs = SmoothedFrameCostUs(e.frameCostUs, cost);
  e.lastFrameTick = now;
  e.frameShown = 1;
}
