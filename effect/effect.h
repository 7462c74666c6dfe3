// The smear effect: the seeded sampler, the smearing step over a pixel surface, and the
// effect's window procedure that runs the step from a timer.
#pragma once

#include <stdint.h>

#include "../settings/settings.h"

#if defined(_WIN32)
#include <windows.h>
#else
typedef uint32_t COLORREF;  // red in bits 0-7, green 8-15, blue 16-23
#define CLR_INVALID 0xFFFFFFFFu
#endif

// Milliseconds since start-up; the sampler seeds itself from it.
typedef uint32_t (*TickClock)();

const int kSamplesPerStep = 1000;

// The effect's one process-wide record. The window procedure owns the device context, the
// bounds and the timer; the sampler owns the seed.
struct EffectState {
#if defined(_WIN32)
  HDC dc;  // the window's own (CS_OWNDC) context, valid for the window's whole life
  // What the screen showed under the window just before it appeared, kept as the effect's
  // working image: a composited desktop gives a new window a black surface of its own, so the
  // window cannot be its own source. NULL imageDc: no image, the window's pixels are used.
  HDC imageDc;
  HBITMAP imageBitmap;
  HGDIOBJ imagePreviousBitmap;  // what imageDc held before imageBitmap, put back at the end
  uint32_t *imagePixels;        // imageBitmap's rows, top-down, 0x00RRGGBB
#endif
  int32_t left, top, right, bottom;  // client rectangle at creation
  uint16_t timerId;                  // 0: no timer
  uint32_t seed;                     // generator state; 0: not seeded yet
};

extern EffectState gEffectState;

// A number in 0..n-1 for 0 < n <= 65536, 0 for n = 0. Seeds from the clock whenever the
// state is 0, then advances it one step of the linear congruential generator.
inline uint32_t RandomBelow(uint32_t n, TickClock clock) {
  if (gEffectState.seed == 0) gEffectState.seed = clock();
  gEffectState.seed = gEffectState.seed * 214013u + 2531011u;
  uint32_t r = (gEffectState.seed >> 16) & 0x7FFFu;
  return (n * r) >> 15;
}

// Channel value of the average of five samples whose channel sum is `sum` (0..1275).
inline uint32_t AverageChannel(uint32_t sum, bool lossy) {
  return lossy ? sum / 5 : (sum + 2) / 5;
}

inline uint32_t SampleColor(COLORREF c) {
  return c == CLR_INVALID ? 0 : c;
}

// Averages five colours channel by channel into one COLORREF.
inline COLORREF AverageOfFive(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e,
                              bool lossy) {
  uint32_t red = (a & 0xFF) + (b & 0xFF) + (c & 0xFF) + (d & 0xFF) + (e & 0xFF);
  uint32_t green = ((a >> 8) & 0xFF) + ((b >> 8) & 0xFF) + ((c >> 8) & 0xFF) + ((d >> 8) & 0xFF) +
                   ((e >> 8) & 0xFF);
  uint32_t blue = ((a >> 16) & 0xFF) + ((b >> 16) & 0xFF) + ((c >> 16) & 0xFF) +
                  ((d >> 16) & 0xFF) + ((e >> 16) & 0xFF);
  return AverageChannel(red, lossy) | AverageChannel(green, lossy) << 8 |
         AverageChannel(blue, lossy) << 16;
}

// One tick of the effect: 1000 random pixels of [left, right) x [top, bottom) each replaced
// by the average of five samples around it. Surface is any type with
//   COLORREF Read(int32_t x, int32_t y)   CLR_INVALID where there is no pixel
//   void Write(int32_t x, int32_t y, COLORREF c)   dropped where there is no pixel
// and is taken as a template parameter so that its reads and writes inline into this loop.
// A surface is a small view (a pointer and bounds, or a device context) passed by value, so
// that its fields stay in registers while the pixels it points to are written.
// Every write is visible to the samples after it: the step works in place.
// Forced inline: in its caller the surface's fields and the clock are known, and the loop
// runs as tight as one written by hand on the pixels (left to itself the compiler keeps the
// step out of line, which costs up to 1.7 times as much per sample).
template <class Surface>
__attribute__((always_inline)) inline void SmearStep(Surface surface, int32_t left, int32_t top,
                                                     int32_t right, int32_t bottom,
                                                     TickClock clock) {
  // The settings do not change during a step.
  const bool lossy = gSettings.lossy == 1;
  const int32_t method = gSettings.method;
  for (int i = 0; i < kSamplesPerStep; ++i) {
    int32_t x =
        left + static_cast<int32_t>(RandomBelow(static_cast<uint32_t>(right - left), clock));
    int32_t y = top + static_cast<int32_t>(RandomBelow(static_cast<uint32_t>(bottom - top), clock));
    COLORREF c;
    if (method == SmearMelting) {
      // The pixel above counts twice and the one below not at all: colour runs downwards.
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

// A 32-bit top-down image in memory, rows of 0x00RRGGBB words as a device-independent bitmap
// stores them (blue in the low byte, the reverse of COLORREF).
struct ImageSurface {
  uint32_t *pixels;
  int32_t width;
  int32_t height;

  static uint32_t SwapRedBlue(uint32_t c) {
    return (c & 0x0000FF00u) | (c & 0xFFu) << 16 | (c >> 16 & 0xFFu);
  }
  bool Contains(int32_t x, int32_t y) const {
    return static_cast<uint32_t>(x) < static_cast<uint32_t>(width) &&
           static_cast<uint32_t>(y) < static_cast<uint32_t>(height);
  }
  COLORREF Read(int32_t x, int32_t y) const {
    if (!Contains(x, y)) return CLR_INVALID;
    return SwapRedBlue(pixels[y * width + x]);
  }
  void Write(int32_t x, int32_t y, COLORREF c) {
    if (Contains(x, y)) pixels[y * width + x] = SwapRedBlue(c);
  }
};

#if defined(_WIN32)
// The window's own pixels through its device context.
struct DeviceSurface {
  HDC dc;

  COLORREF Read(int32_t x, int32_t y) const { return GetPixel(dc, x, y); }
  void Write(int32_t x, int32_t y, COLORREF c) { SetPixelV(dc, x, y, c); }
};

// The working image, with every change also drawn on the window: reads never touch the
// device, and the window shows the same pixels as the image.
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

uint32_t TickCount();  // GetTickCount as a TickClock

// Takes the screen under the window into the working image; false when it cannot be made.
bool CaptureScreenImage(HWND hwnd, int32_t width, int32_t height);
void ReleaseScreenImage();

LRESULT CALLBACK EffectWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
#endif
