// The presenting the saver had before frames, kept for the benchmarks: the working image with
// every change also drawn on the window at once, one SetPixelV per written pixel.
#pragma once

#include <windows.h>

#include "effect/effect.h"

struct SnapshotSurface {
  ImageSurface image;
  HDC dc;

  COLORREF Read(int32_t x, int32_t y) const { return image.Read(x, y); }
  void Write(int32_t x, int32_t y, COLORREF c) {
    if (!image.Contains(x, y)) return;
    image.Write(x, y, c);
    SetPixelV(dc, x, y, c);
  }
};
