// The smear effect: the seeded sampler, the smearing step over a pixel surface, and the
// effect's window procedure that runs the step from a timer.
#pragma once

#include <stdint.h>

#include "../settings/settings.h"
#include "step_pacing_rules.h"

#if defined(_WIN32)
#include <windows.h>
#else
typedef uint32_t COLORREF;  // red in bits 0-7, green 8-15, blue 16-23
#define CLR_INVALID 0xFFFFFFFFu
#endif

// Milliseconds since start-up; the sampler seeds itself from it.
typedef uint32_t (*TickClock)();

const int kSamplesPerStep = 1000;
// Samples whose coordinates the step draws before it takes the first of them.
const int kSamplesDrawnAhead = kSamplesPerStep / 2;
static_assert(kSamplesPerStep % kSamplesDrawnAhead == 0, "a step is whole batches of samples");

// The shortest time between two frames of the working image on the window. A frame is the
// whole image (8 MB at 1920x1080), and under Wine each costs the saver and the X server about
// 2 ms of processor. 100 ms apart, the frames cost about as much as the steps between them;
// 50 ms apart twice, 30 ms apart over three times as much (bench/frame-bench.sh). The picture
// changes by scattered pixels, so ten frames a second show it melt smoothly enough.
const uint32_t kFrameIntervalMs = 100;
// Frames come further apart where they are dear to draw (a larger screen, several of them, a
// display of 1995 that turns the image into its own colours and moves it over a slow bus), so
// that presenting takes the same small share of a processor whatever the size: a frame is
// followed by at least kFrameSpacingPerCost times its smoothed cost, the time the saver itself
// sees it take (the blit and the flush). Under Wine that is about a third of the frame's whole
// cost, the X server's copy and the wineserver being outside the saver. Timed in the running
// saver on a shared 2-core machine, a frame at 1920x1080 took 0.45-0.6 ms (smoothed, up to
// 1 ms while other work ran), at 3840x2160 four times that: 120 keeps 1920x1080 frames
// kFrameIntervalMs apart (seen 100-114 ms, the timer's steps) and puts those at 3840x2160
// about 240 ms apart, where the saver as a whole costs 1.0-1.2 times what it costs at
// 1920x1080 (bench/frame-bench.sh) against 1.6 times with frames 100 ms apart.
const uint32_t kFrameSpacingPerCost = 120;
// However dear its frames, a display shows the melt at least once a second: a display of 1995
// whose frame takes 40 ms would otherwise stand still for 5 s at a time, which looks like a
// saver that hung. Presenting then takes up to a twenty-fifth of the time there, not less.
const uint32_t kLongestFrameIntervalMs = 1000;
// A frame counts as taking at most this long: one drawn across a suspension of the machine, or
// preempted by other work, holds the next one back by at most 750 ms more (kLongestFrameCostUs
// / 16 of the average, times kFrameSpacingPerCost).
const uint32_t kLongestFrameCostUs = 100000;

// The average frame cost after a frame that took readingUs: a cheaper frame takes it halfway
// down, a dearer one a sixteenth of the way up. Other work slows a frame down far more often
// than anything speeds it up, so the average stays near what the frame itself costs.
uint32_t SmoothedFrameCostUs(uint32_t averageUs, uint32_t readingUs);
// The time from one frame to the next for a smoothed frame cost: kFrameIntervalMs at least,
// kLongestFrameIntervalMs at most.
uint32_t FrameIntervalMs(uint32_t averageUs);
// Microseconds from start to end of a counter of frequency counts a second (1000 at least),
// without a 64-bit division: 0 where the counter went back, kLongestFrameCostUs at most.
uint32_t CounterSpanUs(uint64_t start, uint64_t end, uint64_t frequency);
// The same from two tick counts, across the counter's wrap.
uint32_t TickSpanUs(uint32_t startTick, uint32_t endTick);

// The display power settings the saver is told of (display_power.cpp).
const int kPowerSettings = 3;

#if defined(_WIN32)
struct Picture {
  HBITMAP bitmap;
  int32_t width, height;
};
#endif

#if defined(_WIN32)
// A 32-bit image in memory, selected into a device context of its own.
struct WorkingImage {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previousBitmap;  // what dc held before bitmap, put back at the end
  uint32_t *pixels;        // bitmap's rows, top-down, 0x00RRGGBB
  // The screen's rectangle that the image was made for. The bounds follow the image, not the
  // window: the system may have moved the window already, or a larger image could not be made.
  RECT area;
};
#endif

// The effect's one process-wide record. The window procedure owns the device context, the
// bounds and the timer; the sampler owns the seed.
struct EffectState {
#if defined(_WIN32)
  HDC dc;  // the window's own (CS_OWNDC) context, valid for the window's whole life
  // What the screen showed under the window just before it appeared, kept as the effect's
  // working image: a composited desktop gives a new window a black surface of its own, so the
  // window cannot be its own source. NULL image.dc: no image, the window's pixels are used.
  WorkingImage image;
  POINT imageOffset;  // where the image's top-left corner lies in the window
  // The image reaches the window in whole frames, at most one every kFrameIntervalMs.
  uint32_t lastFrameTick;  // GetTickCount when the last frame was begun
  uint32_t frameCostUs;    // what a frame takes to draw, smoothed (SmoothedFrameCostUs)
  int32_t frameShown;      // a frame has been drawn since the window was made
  // While the display is off the timer is gone and nothing is stepped or drawn.
  int32_t displayOff;
  POINT pointerAtDisplayOff;  // where the pointer was when the display went off
  // The system's notifications of the display's power (Vista on), NULL where none was made.
  HANDLE powerNotifications[kPowerSettings];
  // On a palette display: the system palette as the saver found it, so that frames keep the
  // desktop's colours instead of the 20 static ones. NULL elsewhere.
  HPALETTE palette;
  // The user's wallpaper, decoded by a thread of its own (desktop_image.cpp) and kept for the
  // window's life. The window's thread reads the picture only while decoderRunning is 0.
  Picture wallpaper;                // bitmap NULL: none, or not decoded yet
  volatile int32_t decoderRunning;  // the decoding thread has not finished
  // The working image is the plain desktop as a whole, still without the wallpaper: the
  // picture is drawn over all of it when it comes.
  int32_t wallpaperAwaited;
  // The step timer's pace (step_pacing.cpp).
  uint32_t wakeIntervalMs;  // 0 while the 0 ms timer's ticks are being counted
  uint32_t stepsPerSecond;  // the counted pace
  uint32_t ticksCounted;    // ticks counted for the pace, each after a gap short of a stall
  uint32_t countedMs;       // the sum of those gaps
  uint32_t lastWakeTick;    // GetTickCount when the timer started, then at the last wake
  uint32_t stepCarry;       // thousandths of a step owed beyond the steps already run
  uint32_t quietSteps;      // steps in a row that changed no pixel
#endif
  int32_t left, top, right, bottom;  // client rectangle; follows the virtual screen
  uint16_t timerId;                  // 0: no timer
  uint32_t seed;                     // generator state; 0: not seeded yet
};

extern EffectState gEffectState;

// The step's helpers are forced inline: the module is built for size, and left to itself the
// compiler calls them, five reads, one average and up to five writes per sample.

// Channel value of the average of five samples whose channel sum is `sum` (0..1275).
__attribute__((always_inline)) inline uint32_t AverageChannel(uint32_t sum, bool lossy) {
  return lossy ? sum / 5 : (sum + 2) / 5;
}

__attribute__((always_inline)) inline uint32_t SampleColor(COLORREF c) {
  return c == CLR_INVALID ? 0 : c;
}

// Averages five colours channel by channel into one COLORREF.
__attribute__((always_inline)) inline COLORREF AverageOfFive(uint32_t a, uint32_t b, uint32_t c,
                                                             uint32_t d, uint32_t e, bool lossy) {
  uint32_t red = (a & 0xFF) + (b & 0xFF) + (c & 0xFF) + (d & 0xFF) + (e & 0xFF);
  uint32_t green = ((a >> 8) & 0xFF) + ((b >> 8) & 0xFF) + ((c >> 8) & 0xFF) + ((d >> 8) & 0xFF) +
                   ((e >> 8) & 0xFF);
  uint32_t blue = ((a >> 16) & 0xFF) + ((b >> 16) & 0xFF) + ((c >> 16) & 0xFF) +
                  ((d >> 16) & 0xFF) + ((e >> 16) & 0xFF);
  return AverageChannel(red, lossy) | AverageChannel(green, lossy) << 8 |
         AverageChannel(blue, lossy) << 16;
}

// One draw of the generator: 15 bits. Seeds from the clock whenever the state is 0, then
// advances it one step of the linear congruential generator.
__attribute__((always_inline)) inline uint32_t NextDraw(TickClock clock) {
  if (gEffectState.seed == 0) gEffectState.seed = clock();
  gEffectState.seed = gEffectState.seed * 214013u + 2531011u;
  return (gEffectState.seed >> 16) & 0x7FFFu;
}

// A draw scaled into 0..n-1 for 0 < n <= 65536, 0 for n = 0, computed in 32 bits.
__attribute__((always_inline)) inline uint32_t ScaleDraw(uint32_t n, uint32_t draw) {
  return (n * draw) >> 15;
}

// A number in 0..n-1 for 0 < n <= 65536, 0 for n = 0; advances the generator.
inline uint32_t RandomBelow(uint32_t n, TickClock clock) {
  return ScaleDraw(n, NextDraw(clock));
}

// The surface's Touch(x, y) when it has one: brings in what a sample at (x, y) reads, ahead
// of the sample. Surfaces without it (the device, the tests' own) need nothing brought in.
template <class Surface>
__attribute__((always_inline)) inline auto TouchSample(const Surface &surface, int32_t x, int32_t y,
                                                       int)
    -> decltype(surface.Touch(x, y), void()) {
  surface.Touch(x, y);
}
template <class Surface>
__attribute__((always_inline)) inline void TouchSample(const Surface &, int32_t, int32_t, long) {}

// One tick of the effect: 1000 random pixels of [left, right) x [top, bottom) each replaced
// by the average of five samples around it. Surface is any type with
//   COLORREF Read(int32_t x, int32_t y)   CLR_INVALID where there is no pixel
//   void Write(int32_t x, int32_t y, COLORREF c)   dropped where there is no pixel
// and optionally
//   void Touch(int32_t x, int32_t y) const   loads what the samples around (x, y) will read
// and is taken as a template parameter so that its reads and writes inline into this loop.
// A surface is a small view (a pointer and bounds, or a device context) passed by value, so
// that its fields stay in registers while the pixels it points to are written.
// Every write is visible to the samples after it: the step works in place.
// Returns 0 when no write changed a pixel (each written colour was the one its place held),
// non-zero otherwise; a write dropped outside the surface may count as a change.
// Forced inline: in its caller the surface's fields and the clock are known, and the loop
// runs as tight as one written by hand on the pixels (left to itself the compiler keeps the
// step out of line, which costs up to 1.7 times as much per sample).
template <class Surface>
__attribute__((always_inline)) inline uint32_t SmearStep(Surface surface, int32_t left, int32_t top,
                                                         int32_t right, int32_t bottom,
                                                         TickClock clock) {
  // The settings do not change during a step.
  const bool lossy = gSettings.lossy == 1;
  const int32_t method = gSettings.method;
  const uint32_t width = static_cast<uint32_t>(right - left);
  const uint32_t height = static_cast<uint32_t>(bottom - top);
  // Where the samples fall does not depend on the pixels, so the draws come ahead of the
  // samples, x before y as the samples take them. Between two ticks the image leaves the
  // caches; touching the rows of many samples before the first of them is taken lets those
  // misses overlap instead of each sample waiting on its own. The unscaled 15-bit draws fit
  // in 16 bits whatever the bounds; half a step's worth at a time (2000 bytes) keeps the frame
  // well inside the one page beyond which the compiler must probe the stack.
  uint16_t draws[2 * kSamplesDrawnAhead];
  // The written colours XOR what their places held, ORed together: cheaper than a count.
  uint32_t changed = 0;
  for (int start = 0; start < kSamplesPerStep; start += kSamplesDrawnAhead) {
    for (int i = 0; i < 2 * kSamplesDrawnAhead; ++i)
      draws[i] = static_cast<uint16_t>(NextDraw(clock));
    for (int i = 0; i < kSamplesDrawnAhead; ++i)
      TouchSample(surface, left + static_cast<int32_t>(ScaleDraw(width, draws[2 * i])),
                  top + static_cast<int32_t>(ScaleDraw(height, draws[2 * i + 1])), 0);
    for (int i = 0; i < kSamplesDrawnAhead; ++i) {
      int32_t x = left + static_cast<int32_t>(ScaleDraw(width, draws[2 * i]));
      int32_t y = top + static_cast<int32_t>(ScaleDraw(height, draws[2 * i + 1]));
      COLORREF c;
      const uint32_t centre = SampleColor(surface.Read(x, y));
      if (method == SmearMelting) {
        // The pixel above counts twice and the one below not at all: colour runs downwards.
        uint32_t above = SampleColor(surface.Read(x, y - 1));
        c = AverageOfFive(above, above, SampleColor(surface.Read(x - 1, y)),
                          SampleColor(surface.Read(x + 1, y)), centre, lossy);
        changed |= c ^ centre;
      } else {
        const uint32_t right = SampleColor(surface.Read(x + 1, y));
        const uint32_t above = SampleColor(surface.Read(x, y - 1));
        const uint32_t leftOf = SampleColor(surface.Read(x - 1, y));
        const uint32_t below = SampleColor(surface.Read(x, y + 1));
        c = AverageOfFive(centre, right, above, leftOf, below, lossy);
        changed |= c ^ centre;
        // Faster writes the average over all five samples' places.
        if (method == SmearFaster)
          changed |= (c ^ right) | (c ^ above) | (c ^ leftOf) | (c ^ below);
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
  return changed;
}

// A 32-bit top-down image in memory, rows of 0x00RRGGBB words as a device-independent bitmap
// stores them (blue in the low byte, the reverse of COLORREF).
// Its accessors are forced inline, as the step's helpers are.
struct ImageSurface {
  uint32_t *pixels;
  int32_t width;
  int32_t height;

  __attribute__((always_inline)) static uint32_t SwapRedBlue(uint32_t c) {
    return (c & 0x0000FF00u) | (c & 0xFFu) << 16 | (c >> 16 & 0xFFu);
  }
  __attribute__((always_inline)) bool Contains(int32_t x, int32_t y) const {
    return static_cast<uint32_t>(x) < static_cast<uint32_t>(width) &&
           static_cast<uint32_t>(y) < static_cast<uint32_t>(height);
  }
  __attribute__((always_inline)) COLORREF Read(int32_t x, int32_t y) const {
    if (!Contains(x, y)) return CLR_INVALID;
    return SwapRedBlue(pixels[y * width + x]);
  }
  __attribute__((always_inline)) void Write(int32_t x, int32_t y, COLORREF c) {
    if (Contains(x, y)) pixels[y * width + x] = SwapRedBlue(c);
  }
  // One word of each row a sample at (x, y) may read or write: a plain load brings in its
  // line, and nothing waits for the value.
  __attribute__((always_inline)) void Touch(int32_t x, int32_t y) const {
    if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(width)) return;
    for (int32_t row = y - 1; row <= y + 1; ++row)
      if (static_cast<uint32_t>(row) < static_cast<uint32_t>(height))
        static_cast<void>(*static_cast<const volatile uint32_t *>(&pixels[row * width + x]));
  }
};

#if defined(_WIN32)
// The window's own pixels through its device context.
// Each pixel is a call into the system anyway: the calls stay out of line, one place each.
struct DeviceSurface {
  HDC dc;

  __attribute__((noinline)) COLORREF Read(int32_t x, int32_t y) const { return GetPixel(dc, x, y); }
  __attribute__((noinline)) void Write(int32_t x, int32_t y, COLORREF c) { SetPixelV(dc, x, y, c); }
};

uint32_t TickCount();  // GetTickCount as a TickClock

// Takes the screen under the window into the working image, or the desktop as the system
// draws it where the screen cannot be seen; false when no image can be made.
bool CaptureScreenImage(HWND hwnd, int32_t width, int32_t height);
// The same for the screen's area at origin, wherever the window is; where screenSeen is false
// the screen is not read at all and the plain desktop is drawn.
// On failure the working image stays as it was.
bool CaptureScreenArea(POINT origin, int32_t width, int32_t height, bool screenSeen);
// The image's objects go back to the system, and the record is emptied.
void ReleaseImage(WorkingImage *image);

// The step timer: its ticks run the steps (step_pacing.cpp). The re-fit timer waits for a
// burst of display changes to end; its ticks never step.
const UINT_PTR kStepTimerId = 1;
const UINT_PTR kRefitTimerId = 2;
void StartTicking(HWND hwnd);
void StopTicking(HWND hwnd);
void TickForNewPicture(HWND hwnd);

// The display's power (display_power.cpp).
void WatchDisplayPower(HWND hwnd);
void StopWatchingDisplayPower();
void OnPowerBroadcast(HWND hwnd, WPARAM wParam, LPARAM lParam);
void OnSystemCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);
void OnInputWhileDisplayOff(HWND hwnd, UINT msg);

// The palette of a palette display (screen_palette.cpp).
void KeepScreenPalette();
void ReleaseScreenPalette();
bool OnPaletteMessage(HWND hwnd, UINT msg, WPARAM wParam);

// The displays' layout (display_change.cpp).
void OnDisplayChange(HWND hwnd);
void OnRefitTimer(HWND hwnd);

// The whole working image to the window, once the last frame is FrameIntervalMs behind, or
// earlyMs less; nothing where there is no working image.
void ShowFrameIfDue(uint32_t earlyMs);
// One smearing step on the working image, or on the window's pixels where there is none; 0
// when it changed no pixel.
uint32_t RunEffectStep();
// A tick of the step timer (step_pacing.cpp).
void OnStepTimer(HWND hwnd);
// USER32's function of that name, NULL where the system has none.
FARPROC UserEntry(const char *name);

LRESULT CALLBACK EffectWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
#endif
