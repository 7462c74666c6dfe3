// How many steps a wake runs: the pace that the 0 ms timer gave, spread over wakes a frame
// apart. Plain arithmetic on the readings of a clock, so that it runs and is tested anywhere;
// inline, because the module calls each once and a call costs more bytes than the sum.
#pragma once

#include <stdint.h>

// The step's pace. Until its ticks have come over kPaceCountMs, the saver steps on every tick
// of a 0 ms timer, as it always did, and counts them: that is the pace the system's timer gives
// (18 steps a second on the Windows 95 family, 64 on the NT family's default clock, 100 under
// Wine). From then on a timer wakes the thread once a frame, and each wake runs the steps the
// elapsed time owes at that pace, then the frame: the melt goes as fast, the thread wakes a
// tenth as often.
const uint32_t kPaceCountMs = 1000;
// No timer ticks faster than every 10 ms (USER_TIMER_MINIMUM).
const uint32_t kSlowestPace = 10;
const uint32_t kFastestPace = 100;
// A tick that comes this long after the last (slower than the slowest pace) follows a stall,
// not the timer, and is left out of the count. Where every tick comes that late, the count
// never ends: the 0 ms timer steps once a tick, as it always did, under ten times a second.
const uint32_t kStalledTickMs = 1000 / kSlowestPace;
// Steps in a row that change no pixel before the melt counts as ended and its timer stops:
// 100,000 samples, a second at the usual pace. A picture with a few edges left has many quiet
// steps, never that many in a row.
const uint32_t kQuietStepsAtTheEnd = 100;
// The Windows 95 family's clock ticks every 54.9 ms, and its timers count whole ticks, an
// interval rounded down: asked for 100 ms, such a timer wakes every 55. Whole ticks it keeps.
const uint32_t kWin95ClockMs = 55;

// Steps a second from ticks counted over elapsedMs (not 0), within kSlowestPace..kFastestPace.
inline uint32_t CountedPace(uint32_t ticks, uint32_t elapsedMs) {
  uint32_t pace = ticks * 1000 / elapsedMs;
  if (pace < kSlowestPace) return kSlowestPace;
  return pace > kFastestPace ? kFastestPace : pace;
}
// The time between two wakes: the frame interval, rounded up to whole steps of the clock.
inline uint32_t WakeIntervalMs(uint32_t frameIntervalMs, uint32_t clockStepMs) {
  return (frameIntervalMs + clockStepMs - 1) / clockStepMs * clockStepMs;
}
// The steps a gap of gapMs owes at stepsPerSecond. *carry keeps the thousandths of a step left
// over for the next wake. A gap of more than two wakes (a suspension, a long stall) counts as
// two, and the carry goes: the melt never runs a burst to catch up. Two wakes of at most
// 1045 ms at 100 steps a second owe 209,000 thousandths of a step, far inside 32 bits.
inline uint32_t StepsOwed(uint32_t stepsPerSecond, uint32_t gapMs, uint32_t wakeIntervalMs,
                          uint32_t *carry) {
  if (gapMs >= 2 * wakeIntervalMs) {
    gapMs = 2 * wakeIntervalMs;
    *carry = 0;
  }
  uint32_t owed = gapMs * stepsPerSecond + *carry;
  *carry = owed % 1000;
  return owed / 1000;
}
