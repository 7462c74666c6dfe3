// How far apart frames come, from what they cost to draw: plain arithmetic on the readings of
// a clock, so that it runs and is tested anywhere.
#include "effect.h"

uint32_t SmoothedFrameCostUs(uint32_t averageUs, uint32_t readingUs) {
  if (readingUs > kLongestFrameCostUs) readingUs = kLongestFrameCostUs;
  if (readingUs < averageUs) return averageUs - (averageUs - readingUs) / 2;
  return averageUs + (readingUs - averageUs) / 16;
}

uint32_t FrameIntervalMs(uint32_t averageUs) {
  if (averageUs > kLongestFrameCostUs) averageUs = kLongestFrameCostUs;
  uint32_t spaced = averageUs * kFrameSpacingPerCost / 1000;
  if (spaced > kLongestFrameIntervalMs) return kLongestFrameIntervalMs;
  return spaced > kFrameIntervalMs ? spaced : kFrameIntervalMs;
}

// The 32-bit module has no helper for a 64-bit division: the counter is brought down to 32
// bits by shifting, where a processor's own clock drives it faster than 4 GHz, and the span is
// divided in two 32-bit steps.
uint32_t CounterSpanUs(uint64_t start, uint64_t end, uint64_t frequency) {
  if (end < start) return 0;
  uint64_t span = end - start;
  while (frequency > 0xFFFFFFFFu) {
    frequency >>= 1;
    span >>= 1;
  }
  uint32_t perMs = static_cast<uint32_t>(frequency) / 1000;
  if (span >= static_cast<uint64_t>(kLongestFrameCostUs / 1000) * perMs) return kLongestFrameCostUs;
  uint32_t counts = static_cast<uint32_t>(span);
  // counts % perMs * 1000 is below frequency, so it fits in 32 bits.
  return counts / perMs * 1000 + counts % perMs * 1000 / perMs;
}

uint32_t TickSpanUs(uint32_t startTick, uint32_t endTick) {
  uint32_t ms = endTick - startTick;
  return ms >= kLongestFrameCostUs / 1000 ? kLongestFrameCostUs : ms * 1000;
}
