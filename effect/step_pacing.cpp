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
// it, and the first tick starts the count; once the pace is known, a wake runs the steps owed.
void OnStepTimer(HWND hwnd) {
  EffectState &e = gEffectState;
  uint32_t now = GetTickCount();
  const uint32_t wake = e.wakeIntervalMs;
  uint32_t steps = 1;
  if (wake != 0)
    steps = StepsOwed(e.stepsPerSecond, ElapsedMs(e.lastWakeTick, now), wake, &e.stepCarry);
  if (wake != 0 || e.ticksCounted++ == 0) e.lastWakeTick = now;
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
    uint32_t elapsed = ElapsedMs(e.lastWakeTick, now);
    if (elapsed < kPaceCountMs) return;
    e.stepsPerSecond = CountedPace(e.ticksCounted - 1, elapsed);
    e.lastWakeTick = now;
  }
  // Dearer frames come further apart, and the wakes follow them.
  uint32_t interval = FrameWakeMs();
  if (interval == wake) return;
  e.wakeIntervalMs = interval;
  StartTicking(hwnd);
}
