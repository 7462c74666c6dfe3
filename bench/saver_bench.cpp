// What the working image saves on the screen: one SmearStep at full screen through the
// window's device (GetPixel/SetPixelV) against the image with every change also drawn on the
// window (reads from memory, SetPixelV writes), and the processor share of a running saver
// with the image (shown in frames, as the saver does) or without it. Run under Wine by
// bench/run-saver-bench.sh; `saver_bench` alone runs all of it. The share is the saver's own:
// bench/frame-bench.sh counts the wineserver and the X server too.
//   saver_bench step           the per-step figures, in this process
//   saver_bench run SURFACE    a saver in this process (SURFACE: image or device)
//   saver_bench cpu            the processor share of `run image` and `run device`, 20 s each
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/snapshot_surface.h"
#include "effect/effect.h"
#include "host/host.h"
#include "tests/win_test_support.h"

namespace {

const int kSeconds = 20;

HBITMAP WINAPI FailingCreateDIBSection(HDC, const BITMAPINFO *, UINT, void **bits, HANDLE, DWORD) {
  if (bits != NULL) *bits = NULL;
  return NULL;
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    for (int i = 0; i < 16; ++i) {
      RECT band = {r.right * i / 16, 0, r.right * (i + 1) / 16, r.bottom};
      HBRUSH brush = CreateSolidBrush(RGB(i * 16, 255 - i * 16, (i * 53) & 0xFF));
      FillRect(dc, &band, brush);
      DeleteObject(brush);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

template <class Surface>
double MsPerStep(Surface &surface, int steps) {
  const EffectState &e = gEffectState;
  double start = Now();
  for (int i = 0; i < steps; ++i) SmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
  GdiFlush();
  return (Now() - start) * 1000.0 / steps;
}

int StepBench() {
  WNDCLASSA c = {};
  c.style = CS_OWNDC;
  c.lpfnWndProc = PictureProc;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "SaverBenchPicture";
  RegisterClassA(&c);
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HWND picture = CreateWindowExA(0, c.lpszClassName, "picture", WS_POPUP | WS_VISIBLE, 0, 0, w, h,
                                 NULL, NULL, c.hInstance, NULL);
  UpdateWindow(picture);
  wintest::Pump(300);
  // The saver's surfaces on a full-screen window of the same kind as the saver's.
  HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, c.lpszClassName, "bench", WS_POPUP, 0, 0, w, h, NULL,
                              NULL, c.hInstance, NULL);
  gEffectState.left = gEffectState.top = 0;
  gEffectState.right = w;
  gEffectState.bottom = h;
  if (!CaptureScreenImage(hwnd, w, h)) {
    std::printf("no image could be made\n");
    return 1;
  }
  ShowWindow(hwnd, SW_SHOWNA);
  wintest::Pump(200);
  HDC dc = GetDC(hwnd);
  std::printf("one SmearStep (1000 samples) at %dx%d, milliseconds\n", w, h);
  std::printf("%-8s %12s %12s %8s\n", "method", "device", "image", "ratio");
  const char *names[] = {"", "Gradual", "Faster", "Melting"};
  for (int32_t method = 1; method <= 3; ++method) {
    gSettings.method = method;
    gSettings.lossy = 0;
    DeviceSurface device = {dc};
    SnapshotSurface image = {{gEffectState.image.pixels, w, h}, dc};
    MsPerStep(device, 2);  // warm-up
    double deviceMs = MsPerStep(device, 30);
    MsPerStep(image, 5);
    double imageMs = MsPerStep(image, 300);
    std::printf("%-8s %12.3f %12.3f %7.1fx\n", names[method], deviceMs, imageMs,
                deviceMs / imageMs);
  }
  ReleaseDC(hwnd, dc);
  ReleaseImage(&gEffectState.image);
  DestroyWindow(hwnd);
  DestroyWindow(picture);
  return 0;
}

double Seconds(const FILETIME &t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;
}

// Processor time of this process so far. Wine answers this for the calling process only.
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  return Seconds(kernel) + Seconds(user);
}

const char *gSurface;

// Beside the saver's own thread: lets it settle, measures its processor share, then ends it
// the way a user would.
DWORD WINAPI MeasureSaver(void *) {
  HWND saver = NULL;
  for (int i = 0; i < 3000 && saver == NULL; ++i) {
    Sleep(10);
    saver = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
  }
  Sleep(2000);
  double cpu0 = CpuSeconds(), wall0 = Now();
  Sleep(kSeconds * 1000);
  double cpu1 = CpuSeconds(), wall1 = Now();
  std::printf("%-7s %.3f of one processor over %.1f s (working image %s)\n", gSurface,
              (cpu1 - cpu0) / (wall1 - wall0), wall1 - wall0,
              gEffectState.image.pixels != NULL ? "in use" : "absent");
  std::fflush(stdout);
  PostMessageA(saver, WM_KEYDOWN, VK_SPACE, 0);
  return 0;
}

int RunSaver(const char *surface) {
  gSurface = surface;
  if (std::strcmp(surface, "device") == 0)
    wintest::PatchImport("gdi32.dll", "CreateDIBSection",
                         reinterpret_cast<void *>(FailingCreateDIBSection));
  gHostState.instance = GetModuleHandleA(NULL);
  DetectPlatformFamily();
  HANDLE thread = CreateThread(NULL, 0, MeasureSaver, NULL, 0, NULL);
  int result = RunSaverWindow(NULL);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return result;
}

// Each surface in a saver process of its own, one after the other.
int CpuBench() {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, sizeof self);
  std::printf("processor share of the running saver, 1.0 = one processor\n");
  std::fflush(stdout);
  const char *surfaces[] = {"image", "device"};
  for (const char *surface : surfaces) {
    char line[MAX_PATH + 32];
    std::snprintf(line, sizeof line, "\"%s\" run %s", self, surface);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) return 1;
    WaitForSingleObject(pi.hProcess, (kSeconds + 60) * 1000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "run") == 0) return RunSaver(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "step") == 0) return StepBench();
  if (argc >= 2 && std::strcmp(argv[1], "cpu") == 0) return CpuBench();
  int result = StepBench();
  std::fflush(stdout);
  return result | CpuBench();
}
