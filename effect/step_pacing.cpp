// The step timer. For the saver's first second a 0 ms timer runs one step a tick, as fast as
// the system sends ticks, and the ticks are counted; from then on a timer wakes the thread once
// a frame, and each wake runs the steps that the time since the last one owes at the counted
// pace, then the frame. Each wake is a trip through the message queue (under Wine, through the
// wineserver too), and waking ten times a second in place of up to a hundred lets the
// processor sleep deeper between them. Where the picture can change no more, no timer runs.
#include "../host/host.h"
#include "effect.h"

typedef UINT_PTR(WINAPI *SetCoalescableTimerProc)(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc,
                                                  ULONG toleranceMs);

void StartTicking(HWND hwnd) {
  EffectState &e = gEffectState;
  e.ticksCounted = 0;
  e.countedMs = 0;
  e.lastWakeTick = GetTickCount();
  UINT ms = e.wakeIntervalMs;
  // From Windows 8 on, a little tolerance lets the system wake the thread together with others.
  SetCoalescableTimerProc coalescable = reinterpret_cast<SetCoalescableTimerProc>(
      reinterpret_cast<void *>(UserEntry("SetCoalescableTimer")));
  e.timerId = static_cast<uint16_t>(coalescable != NULL && ms != 0
                                        ? coalescable(hwnd, kStepTimerId, ms, NULL, ms / 8)
                                        : SetTimer(hwnd, kStepTimerId, ms, NULL));
}

// New area, or the wallpaper come at last: the melt goes on, even where it had come to its end
// and the timer stopped; while the display is off it waits for the display.
void TickForNewPicture(HWND hwnd) {
  gEffectState.quietSteps = 0;
  if (!gEffectState.displayOff) StartTicking(hwnd);
}

void StopTicking(HWND hwnd) {
  KillTimer(hwnd, kStepTimerId);
  gEffectState.timerId = 0;
}

// A wake comes once a frame is due; the Windows 95 family's timer counts in its 55 ms ticks.
static uint32_t FrameWakeMs() {
  return WakeIntervalMs(FrameIntervalMs(gEffectState.frameCostUs),
                        gHostState.onWin95 ? kWin95ClockMs : 1);
}

// While the pace is being counted, a tick is a wake of one step, as the 0 ms timer always ran
// it; once the pace is known, a wake runs the steps owed.
void OnStepTimer(HWND hwnd) {
  EffectState &e = gEffectState;
  uint32_t now = GetTickCount();
  uint32_t gap = ElapsedMs(e.lastWakeTick, now);
  e.lastWakeTick = now;
  const uint32_t wake = e.wakeIntervalMs;
  uint32_t steps = 1;
  if (wake != 0) {
    steps = StepsOwed(e.stepsPerSecond, gap, wake, &e.stepCarry);
  } else if (gap < kStalledTickMs) {
    // A stall (the wallpaper drawn over a 4K image, another program busy) says nothing of the
    // timer's pace, and would slow the melt for the rest of the run.
    e.countedMs += gap;
    ++e.ticksCounted;
  }
  // A step samples 1000 pixels, and one that changes none may just have missed the few edges
  // left. Only a long run of such steps tells that nothing will change (a lossy melt gone
  // black): the thread then sleeps until the display comes back or new area comes.
  while (steps-- != 0) {
    if (RunEffectStep())
      e.quietSteps = 0;
    else if (++e.quietSteps >= kQuietStepsAtTheEnd)
      return StopTicking(hwnd);
  }
  // A wake may come early by up to half its interval (a late one before it, the clock's
  // steps) and still brings its frame.
  ShowFrameIfDue(wake / 2);
  if (wake == 0) {
    if (e.countedMs < kPaceCountMs) return;
    e.stepsPerSecond = CountedPace(e.ticksCounted, e.countedMs);
  }
  // Dearer frames come further apart, and the wakes follow them.
  uint32_t interval = FrameWakeMs();
  if (interval == wake) return;
  e.wakeIntervalMs = interval;
  StartTicking(hwnd);
}
