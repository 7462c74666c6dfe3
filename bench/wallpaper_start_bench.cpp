// How long Vandrel.scr /s takes from its start to its first frame over a blank screen, where
// it shows the background colour and the user's wallpaper once decoded and placed (a
// 1920x1080 JPEG and a 45-megapixel one), against the same start without a wallpaper and over
// a picture on the screen (the copy of the screen it takes then). Run under Wine:
//   wallpaper_start_bench PATH-TO-Vandrel.scr WALLPAPER-FOLDER [RUNS]
// The folder is what tests/make_wallpapers.sh writes; photo1080.jpg and large45.jpg are the
// wallpapers.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/blank_screen.h"
#include "tests/win_test_support.h"

namespace {

const char kDesktopKey[] = "Control Panel\\Desktop";

// A string value, or with text NULL, no value.
void SetString(const char *name, const char *text) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                      NULL) != ERROR_SUCCESS)
    return;
  if (text == NULL)
    RegDeleteValueA(key, name);
  else
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   static_cast<DWORD>(lstrlenA(text) + 1));
  RegCloseKey(key);
}

struct SavedString {
  bool present = false;
  char text[MAX_PATH + 1] = {};
  explicit SavedString(const char *name) {
    HKEY key;
    DWORD size = sizeof text - 1;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    present = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE *>(text), &size) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
  }
  const char *Value() const { return present ? text : NULL; }
};

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// A few points spread over the screen, read as the user sees them.
std::vector<COLORREF> Probe() {
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  std::vector<COLORREF> colours;
  HDC screen = GetDC(NULL);
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 5; ++j) colours.push_back(GetPixel(screen, w * i / 6, h * j / 6));
  ReleaseDC(NULL, screen);
  return colours;
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(hwnd, &r);
    for (int i = 0; i < 16; ++i) {
      RECT band = {r.right * i / 16, 0, r.right * (i + 1) / 16, r.bottom};
      HBRUSH brush = CreateSolidBrush(RGB(i * 16, 255 - i * 16, (i * 53) & 0xFF));
      FillRect(reinterpret_cast<HDC>(wParam), &band, brush);
      DeleteObject(brush);
    }
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

struct Times {
  double window = -1, frame = -1, picture = -1;
};

// One start: the time until the saver's window is shown, until the probed points all show
// what firstFrame accepts and until they all show what picture accepts; then a key ends it.
template <class Accept, class AcceptPicture>
Times RunOnce(const std::string &module, Accept firstFrame, AcceptPicture picture) {
  Times t;
  std::string line = "\"" + module + "\" /s";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION process = {};
  double start = Now();
  if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &process)) return t;
  while (Now() - start < 60000) {
    HWND w = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
    if (t.window < 0 && w != NULL && IsWindowVisible(w)) t.window = Now() - start;
    std::vector<COLORREF> seen = t.window >= 0 ? Probe() : std::vector<COLORREF>();
    if (t.window >= 0 && t.frame < 0 && firstFrame(seen)) t.frame = Now() - start;
    if (t.frame >= 0 && picture(seen)) {
      t.picture = Now() - start;
      break;
    }
    Sleep(1);
  }
  HWND w = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
  if (w != NULL) PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  wintest::Pump(300);
  return t;
}

template <class Accept>
Times RunOnce(const std::string &module, Accept firstFrame) {
  return RunOnce(module, firstFrame, firstFrame);
}

void Report(const char *what, std::vector<Times> runs, bool withPicture = false) {
  auto median = [&](double Times::*field) {
    std::vector<double> v;
    for (const Times &t : runs) v.push_back(t.*field);
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
  };
  auto range = [&](double Times::*field, double *low, double *high) {
    *low = 1e9;
    *high = -1;
    for (const Times &t : runs) {
      *low = std::min(*low, t.*field);
      *high = std::max(*high, t.*field);
    }
  };
  double wl, wh, fl, fh, pl, ph;
  range(&Times::window, &wl, &wh);
  range(&Times::frame, &fl, &fh);
  std::printf("%-44s window shown %6.0f ms (%.0f-%.0f), first frame %6.0f ms (%.0f-%.0f)", what,
              median(&Times::window), wl, wh, median(&Times::frame), fl, fh);
  range(&Times::picture, &pl, &ph);
  if (withPicture) std::printf(", wallpaper %6.0f ms (%.0f-%.0f)", median(&Times::picture), pl, ph);
  std::printf("\n");
}

// Runs over a blank screen with a wallpaper that differs from the blank screen and from the
// background colour everywhere: the first frame is the first with no blank point, the
// wallpaper's the first with no point in either colour.
void TimeWallpaper(const char *what, const std::string &module, const std::string &file, int runs,
                   COLORREF blank, COLORREF background) {
  SetString("Wallpaper", file.c_str());
  SetString("WallpaperStyle", "10");
  SetString("TileWallpaper", "0");
  std::vector<Times> times;
  for (int i = 0; i < runs; ++i)
    times.push_back(RunOnce(
        module,
        [&](const std::vector<COLORREF> &p) {
          for (COLORREF c : p)
            if (c == blank) return false;
          return true;
        },
        [&](const std::vector<COLORREF> &p) {
          for (COLORREF c : p)
            if (c == blank || c == background) return false;
          return true;
        }));
  Report(what, times, true);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: wallpaper_start_bench PATH-TO-Vandrel.scr WALLPAPER-FOLDER [RUNS]\n");
    return 2;
  }
  std::string module = wintest::WindowsPath(argv[1]);
  std::string folder = wintest::WindowsPath(std::string(argv[2]) + "/");
  int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  SavedString wallpaper("Wallpaper"), style("WallpaperStyle"), tile("TileWallpaper");
  std::string photo = folder + "photo1080.jpg";
  SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
  HWND blankWindow = wintest::BlankTheScreen();
  COLORREF blank = Probe()[0], background = GetSysColor(COLOR_DESKTOP);
  std::printf("Vandrel.scr /s from its start, median of %d runs (fastest-slowest), at %dx%d\n",
              runs, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

  TimeWallpaper("blank screen, 1920x1080 JPEG wallpaper (fill)", module, photo, runs, blank,
                background);
  TimeWallpaper("blank screen, 8000x5625 JPEG wallpaper (fill)", module, folder + "large45.jpg",
                runs, blank, background);

  SetString("Wallpaper", "");
  std::vector<Times> times;
  for (int i = 0; i < runs; ++i)
    times.push_back(RunOnce(module, [&](const std::vector<COLORREF> &p) {
      for (COLORREF c : p)
        if (c != background) return false;
      return true;
    }));
  Report("blank screen, no wallpaper", times);

  DestroyWindow(blankWindow);
  // Over a picture the first frame looks like what was there: only the window is timed.
  WNDCLASSA c = {};
  c.lpfnWndProc = PictureProc;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "WallpaperBenchPicture";
  RegisterClassA(&c);
  HWND picture = CreateWindowExA(0, c.lpszClassName, "picture", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL,
                                 NULL, c.hInstance, NULL);
  UpdateWindow(picture);
  wintest::Pump(300);
  SetString("Wallpaper", photo.c_str());
  times.clear();
  for (int i = 0; i < runs; ++i)
    times.push_back(RunOnce(module, [](const std::vector<COLORREF> &) { return true; }));
  Report("picture on the screen (its copy melts)", times);
  DestroyWindow(picture);

  SetString("Wallpaper", wallpaper.Value());
  SetString("WallpaperStyle", style.Value());
  SetString("TileWallpaper", tile.Value());
  return 0;
}
