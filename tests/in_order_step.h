// The smearing step as it was before it drew its coordinates ahead: each sample draws its x
// and y, then reads and writes, one after another. Kept as the reference that the step must
// match bit for bit, and as the benchmarks' measure of what drawing ahead saves.
#pragma once

#include "effect/effect.h"

// The sampler as it was, on the same generator state.
inline uint32_t InOrderRandomBelow(uint32_t n, TickClock clock) {
  if (gEffectState.seed == 0) gEffectState.seed = clock();
  gEffectState.seed = gEffectState.seed * 214013u + 2531011u;
  uint32_t r = (gEffectState.seed >> 16) & 0x7FFFu;
  return (n * r) >> 15;
}

template <class Surface>
void InOrderSmearStep(Surface surface, int32_t left, int32_t top, int32_t right, int32_t bottom,
                      TickClock clock) {
  const bool lossy = gSettings.lossy == 1;
  const int32_t method = gSettings.method;
  for (int i = 0; i < kSamplesPerStep; ++i) {
    int32_t x =
        left + static_cast<int32_t>(InOrderRandomBelow(static_cast<uint32_t>(right - left), clock));
    int32_t y =
        top + static_cast<int32_t>(InOrderRandomBelow(static_cast<uint32_t>(bottom - top), clock));
    COLORREF c;
    if (method == SmearMelting) {
      uint32_t above = SampleColor(surface.Read(x, y - 1));
      c = AverageOfFive(above, above, SampleColor(surface.Read(x - 1, y)),
                        SampleColor(surface.Read(x + 1, y)), SampleColor(surface.Read(x, y)),
                        lossy);
    } else {
      c = AverageOfFive(SampleColor(surface.Read(x, y)), SampleColor(surface.Read(x + 1, y)),
                        SampleColor(surface.Read(x, y - 1)), SampleColor(surface.Read(x - 1, y)),
                        SampleColor(surface.Read(x, y + 1)), lossy);
    }
    surface.Write(x, y, c);
    if (method == SmearFaster) {
      surface.Write(x + 1, y, c);
      surface.Write(x, y - 1, c);
      surface.Write(x - 1, y, c);
      surface.Write(x, y + 1, c);
    }
  }
}
