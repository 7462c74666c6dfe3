// What presenting the working image costs, and what drawing the step's coordinates ahead
// saves. Driven by bench/frame-bench.sh, which measures each saver from outside.
//   frame_bench run empty          the saver's full-screen window and 0 ms timer, nothing drawn
//   frame_bench run pixels         every changed pixel written to the window as it is written,
//                                  by the step that takes its samples one after another: the
//                                  saver as it was before it presented in frames
//   frame_bench run frames MS      the saver's step, its image shown in frames MS apart
//   frame_bench run steps          the saver's step, its image never shown: what the steps
//                                  cost by themselves
//   frame_bench step [STEPS]       one step on a hot cache against a cold one, each method,
//                                  in-order and drawn-ahead, microseconds
//   frame_bench picture            a full-screen window of a detailed picture for the saver to
//                                  melt (under Wine the saver does not see the X root's
//                                  background), until it is ended from outside
//   frame_bench changes SECONDS    pixels a second that change on the screen over SECONDS
//   frame_bench display off|on     tells the running saver that the display went off or came
//                                  back on, as the system does (WM_SYSCOMMAND, SC_MONITORPOWER
//                                  2 or -1); fails when no saver runs
// A run goes until input ends it, like the saver; the settings are the saver's own.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/snapshot_surface.h"
#include "effect/effect.h"
#include "host/host.h"
#include "tests/in_order_step.h"
#include "tests/saver_run.h"

namespace {

enum class Presenting { Empty, Pixels, Frames, Steps };
Presenting gPresenting;
uint32_t gIntervalMs;
uint32_t gLastFrame;
bool gFrameShown;

WNDPROC gSaverProc;
HHOOK gCreationHook;

void StepWithFrames() {
  EffectState &e = gEffectState;
  ImageSurface surface = {e.image.pixels, e.right - e.left, e.bottom - e.top};
  SmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
  uint32_t now = GetTickCount();
  if (gFrameShown && ElapsedMs(gLastFrame, now) < gIntervalMs) return;
  BitBlt(e.dc, 0, 0, e.right - e.left, e.bottom - e.top, e.image.dc, 0, 0, SRCCOPY);
  gLastFrame = now;
  gFrameShown = true;
}

void StepOnly() {
  EffectState &e = gEffectState;
  ImageSurface surface = {e.image.pixels, e.right - e.left, e.bottom - e.top};
  SmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
}

void StepWithPixels() {
  EffectState &e = gEffectState;
  SnapshotSurface surface = {{e.image.pixels, e.right - e.left, e.bottom - e.top}, e.dc};
  InOrderSmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
}

// The saver's own procedures for everything but the tick, which goes as the host sends it on
// (dropped once closing, after a yield) to the presenting under test.
LRESULT CALLBACK BenchSaverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_TIMER) return CallWindowProcA(gSaverProc, hwnd, msg, wParam, lParam);
  if (gHostState.closing) return 0;
  Sleep(0);
  if (gEffectState.image.pixels == NULL) return 0;
  if (gPresenting == Presenting::Pixels) StepWithPixels();
  if (gPresenting == Presenting::Frames) StepWithFrames();
  if (gPresenting == Presenting::Steps) StepOnly();
  return 0;
}

// Takes over the saver's window as it is made, before its first message.
LRESULT CALLBACK TakeOverSaverWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && gSaverProc == NULL) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (std::strcmp(name, "WindowsScreenSaverClass") == 0)
      gSaverProc = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BenchSaverProc)));
  }
  return CallNextHookEx(gCreationHook, code, wParam, lParam);
}

int RunSaver(Presenting presenting, uint32_t intervalMs) {
  gPresenting = presenting;
  gIntervalMs = intervalMs;
  gHostState.instance = GetModuleHandleA(NULL);
  gHostState.mouseThreshold = 4;
  gHostState.lastVerifyTick = kNeverVerified;
  DetectPlatformFamily();
  gCreationHook = SetWindowsHookExA(WH_CBT, TakeOverSaverWindow, NULL, GetCurrentThreadId());
  int result = RunSaverWindow(NULL);
  UnhookWindowsHookEx(gCreationHook);
  return gSaverProc != NULL ? result : 2;
}

double Now() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

const int32_t kWidth = 1920, kHeight = 1080;

uint32_t FixedClock() {
  return 12345;
}

// Out of line, as the saver's own step is: one function per step and surface.
__attribute__((noinline)) void DrawnAheadStep(ImageSurface surface) {
  SmearStep(surface, 0, 0, kWidth, kHeight, FixedClock);
}
__attribute__((noinline)) void InOrderStep(ImageSurface surface) {
  InOrderSmearStep(surface, 0, 0, kWidth, kHeight, FixedClock);
}

// What the rest of the system does to the caches between two ticks, at its worst: 64 MB
// written through, twice the last-level cache of any processor this runs on.
void EvictCaches(std::vector<uint8_t> &buffer) {
  volatile uint8_t *p = buffer.data();
  for (size_t i = 0; i < buffer.size(); i += 64) p[i] = static_cast<uint8_t>(p[i] + 1);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Microseconds of one step, median of `steps`, with the caches emptied before each or not.
double StepMicroseconds(void (*step)(ImageSurface), ImageSurface surface, bool cold, int steps,
                        std::vector<uint8_t> &evict) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) step(surface);
  for (int i = 0; i < steps; ++i) {
    if (cold) EvictCaches(evict);
    double start = Now();
    step(surface);
    times.push_back((Now() - start) * 1e6);
  }
  return Median(times);
}

int StepBench(int steps) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x)
      pixels[static_cast<size_t>(y) * kWidth + x] =
          static_cast<uint32_t>((x * 7) ^ (y * 13)) & 0xFFFFFF;
  std::vector<uint8_t> evict(64u << 20, 1);
  ImageSurface surface = {pixels.data(), kWidth, kHeight};
  std::printf(
      "one step (1000 samples) on a %dx%d image, microseconds, median of %d; cold: "
      "64 MB written between steps\n",
      kWidth, kHeight, steps);
  std::printf("%-8s %9s %9s %9s %9s %9s %9s\n", "method", "in-order", "in-order", "cold/hot",
              "ahead", "ahead", "cold/hot");
  std::printf("%-8s %9s %9s %9s %9s %9s %9s\n", "", "hot", "cold", "", "hot", "cold", "");
  const char *names[] = {"", "Gradual", "Faster", "Melting"};
  for (int32_t method = 1; method <= 3; ++method) {
    gSettings.method = method;
    gSettings.lossy = 0;
    gEffectState.seed = 1;
    double inOrderHot = StepMicroseconds(InOrderStep, surface, false, steps, evict);
    double inOrderCold = StepMicroseconds(InOrderStep, surface, true, steps, evict);
    double aheadHot = StepMicroseconds(DrawnAheadStep, surface, false, steps, evict);
    double aheadCold = StepMicroseconds(DrawnAheadStep, surface, true, steps, evict);
    std::printf("%-8s %9.1f %9.1f %8.1fx %9.1f %9.1f %8.1fx\n", names[method], inOrderHot,
                inOrderCold, inOrderCold / inOrderHot, aheadHot, aheadCold, aheadCold / aheadHot);
    std::fflush(stdout);
  }
  return 0;
}

// Waves of colour over noise: every pixel differs from its neighbours, as a photograph's do.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProcA(hwnd, msg, wParam, lParam);
  RECT r;
  GetClientRect(hwnd, &r);
  std::vector<uint32_t> pixels(static_cast<size_t>(r.right) * r.bottom);
  uint32_t seed = 7;
  for (int y = 0; y < r.bottom; ++y)
    for (int x = 0; x < r.right; ++x) {
      seed = seed * 1664525u + 1013904223u;
      uint32_t noise = seed >> 26, wave = (x * 3 + y * 2) % 512, band = (x / 7 + y / 5) % 256;
      pixels[static_cast<size_t>(y) * r.right + x] =
          ((wave < 256 ? wave : 511 - wave) + noise) % 256 << 16 | (band + noise) % 256 << 8 |
          (x ^ y) % 256;
    }
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = r.right;
  info.bmiHeader.biHeight = -r.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  SetDIBitsToDevice(dc, 0, 0, r.right, r.bottom, 0, 0, 0, r.bottom, pixels.data(), &info,
                    DIB_RGB_COLORS);
  EndPaint(hwnd, &paint);
  return 0;
}

int ShowPicture() {
  WNDCLASSA c = {};
  c.lpfnWndProc = PictureProc;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "VandrelBenchPicture";
  RegisterClassA(&c);
  CreateWindowExA(0, c.lpszClassName, "picture", WS_POPUP | WS_VISIBLE, 0, 0,
                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL,
                  c.hInstance, NULL);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

int CountChanges(double seconds) {
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  std::vector<uint32_t> before = wintest::ReadScreen(screen).pixels;
  double start = Now();
  Sleep(static_cast<DWORD>(seconds * 1000));
  std::vector<uint32_t> after = wintest::ReadScreen(screen).pixels;
  double elapsed = Now() - start;
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) changed += (before[i] ^ after[i]) & 0xFFFFFF ? 1 : 0;
  std::printf("%.0f\n", static_cast<double>(changed) / elapsed);
  return 0;
}

int TellDisplayPower(const char *state) {
  HWND saver = FindWindowA("WindowsScreenSaverClass", NULL);
  LPARAM power = std::strcmp(state, "off") == 0 ? 2 : -1;
  return saver != NULL && PostMessageA(saver, WM_SYSCOMMAND, SC_MONITORPOWER, power) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "run") == 0) {
    if (std::strcmp(argv[2], "empty") == 0) return RunSaver(Presenting::Empty, 0);
    if (std::strcmp(argv[2], "pixels") == 0) return RunSaver(Presenting::Pixels, 0);
    if (std::strcmp(argv[2], "steps") == 0) return RunSaver(Presenting::Steps, 0);
    if (std::strcmp(argv[2], "frames") == 0 && argc >= 4)
      return RunSaver(Presenting::Frames, static_cast<uint32_t>(std::atoi(argv[3])));
  }
  if (argc >= 3 && std::strcmp(argv[1], "display") == 0) return TellDisplayPower(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "changes") == 0) return CountChanges(std::atof(argv[2]));
  if (argc >= 2 && std::strcmp(argv[1], "picture") == 0) return ShowPicture();
  if (argc >= 2 && std::strcmp(argv[1], "step") == 0)
    return StepBench(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 200);
  std::fprintf(stderr,
               "usage: frame_bench run empty|pixels|steps|frames MS\n"
               "       frame_bench step [STEPS]\n"
               "       frame_bench changes SECONDS\n"
               "       frame_bench picture\n"
               "       frame_bench display off|on\n");
  return 2;
}
