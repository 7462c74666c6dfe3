// SmearStep over surfaces of random sizes and bounds, every method and average: no access
// outside the image (AddressSanitizer watches the exact-size buffer), the rows it touches ahead
// included; every write inside the surface or dropped, every colour a COLORREF; and the same
// picture, generator state and clock calls as the step that takes its samples in order.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "effect/effect.h"
#include "tests/in_order_step.h"

namespace {

uint32_t gTicks;
uint32_t gClockCalls;
uint32_t FuzzClock() {
  ++gClockCalls;
  return gTicks;
}

struct CheckedSurface {
  ImageSurface image;
  size_t *writesOutside;
  COLORREF Read(int32_t x, int32_t y) const { return image.Read(x, y); }
  void Write(int32_t x, int32_t y, COLORREF c) {
    if (c > 0xFFFFFFu) std::abort();
    if (!image.Contains(x, y)) ++*writesOutside;
    image.Write(x, y, c);
  }
  void Touch(int32_t x, int32_t y) const { image.Touch(x, y); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  struct {
    uint8_t width, height, method, lossy;
    int8_t left, top, right, bottom;
    uint32_t seed, ticks;
  } input = {};
  if (size < sizeof input) return 0;
  memcpy(&input, data, sizeof input);
  data += sizeof input;
  size -= sizeof input;

  int32_t width = input.width % 70, height = input.height % 70;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = size ? (data[i % size] * 0x010203u) & 0xFFFFFFu : 0x808080u;
  std::vector<uint32_t> before = pixels;

  gSettings.method = 1 + input.method % 3;
  gSettings.lossy = input.lossy & 1;
  gTicks = input.ticks;
  std::vector<uint32_t> reference = pixels;
  ImageSurface referenceSurface = {reference.data(), width, height};
  gEffectState.seed = input.seed;
  gClockCalls = 0;
  InOrderSmearStep(referenceSurface, input.left, input.top, input.right, input.bottom, FuzzClock);
  uint32_t referenceSeed = gEffectState.seed, referenceClockCalls = gClockCalls;

  gEffectState.seed = input.seed;
  gClockCalls = 0;
  size_t outside = 0;
  CheckedSurface surface = {{pixels.data(), width, height}, &outside};
  SmearStep(surface, input.left, input.top, input.right, input.bottom, FuzzClock);
  if (pixels != reference || gEffectState.seed != referenceSeed ||
      gClockCalls != referenceClockCalls)
    std::abort();

  for (uint32_t p : pixels)
    if (p > 0xFFFFFFu) std::abort();
  // Bounds that lie wholly inside the image never write outside it, but the neighbours of
  // method 2 may; those writes are dropped, not wrapped.
  if (width == 0 || height == 0)
    if (pixels != before) std::abort();
  return 0;
}
