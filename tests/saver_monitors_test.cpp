// Vandrel.scr full screen on a system with several monitors, started and watched from outside:
// saver_monitors_test PATH-TO-Vandrel.scr [LEFT,TOP,RIGHT,BOTTOM] [gtest flags]. The optional
// rectangle is the virtual screen the test expects to find, so that a world that lost its
// monitors fails instead of testing one screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "saver_run.h"
#include "win_test_support.h"

namespace {

std::string gModulePath;  // Windows form of the module's path
RECT gExpectedVirtual = {};
bool gExpectVirtual = false;

// Each monitor's picture has colours of its own, so a part copied to the wrong place shows.
const int kCols = 4, kRows = 3, kPalettes = 2;
const COLORREF kPalette[kPalettes][kRows][kCols] = {
    {{RGB(200, 30, 30), RGB(30, 200, 30), RGB(30, 30, 200), RGB(220, 220, 40)},
     {RGB(40, 220, 220), RGB(220, 40, 220), RGB(128, 128, 128), RGB(250, 250, 250)},
     {RGB(90, 60, 10), RGB(10, 90, 60), RGB(60, 10, 90), RGB(170, 110, 50)}},
    {{RGB(250, 140, 0), RGB(0, 140, 250), RGB(140, 250, 0), RGB(250, 0, 140)},
     {RGB(100, 100, 40), RGB(40, 100, 100), RGB(100, 40, 100), RGB(200, 200, 160)},
     {RGB(160, 200, 200), RGB(200, 160, 200), RGB(20, 20, 20), RGB(240, 120, 120)}},
};

std::vector<RECT> gMonitors;  // in the system's order; the primary is at 0,0

BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT bounds, LPARAM) {
  gMonitors.push_back(*bounds);
  return TRUE;
}

RECT MonitorUnion() {
  RECT all = gMonitors[0];
  for (const RECT &m : gMonitors) UnionRect(&all, &all, &m);
  return all;
}

RECT VirtualScreen() {
  int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  RECT r = {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
            y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  return r;
}

size_t SecondaryIndex() {
  for (size_t i = 0; i < gMonitors.size(); ++i)
    if (gMonitors[i].left != 0 || gMonitors[i].top != 0) return i;
  return 0;
}

POINT Centre(const RECT &r) {
  POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  return p;
}

std::string Text(const RECT &r) {
  char text[80];
  std::snprintf(text, sizeof text, "%ld,%ld-%ld,%ld", r.left, r.top, r.right, r.bottom);
  return text;
}

// Block (row, col) of a picture of size w x h, in the picture's coordinates.
RECT BlockRect(int w, int h, int row, int col) {
  RECT r = {col * w / kCols, row * h / kRows, (col + 1) * w / kCols, (row + 1) * h / kRows};
  return r;
}

// The detail: a checkerboard of 4-pixel squares over the middle two blocks, for the melt to
// work on.
RECT DetailRect(int w, int h) {
  RECT r = {w / kCols, h / kRows, 3 * w / kCols, 2 * h / kRows};
  return r;
}

void PaintPicture(HDC dc, int w, int h, int palette) {
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      RECT r = BlockRect(w, h, row, col);
      HBRUSH brush = CreateSolidBrush(kPalette[palette][row][col]);
      FillRect(dc, &r, brush);
      DeleteObject(brush);
    }
  RECT d = DetailRect(w, h);
  HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  for (int y = d.top; y < d.bottom; y += 4)
    for (int x = d.left + ((y - d.top) / 4 % 2) * 4; x < d.right; x += 8) {
      RECT s = {x, y, x + 4, y + 4};
      FillRect(dc, &s, black);
    }
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      // The window spans every monitor; each gets its own picture.
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      for (size_t m = 0; m < gMonitors.size(); ++m) {
        const RECT &mon = gMonitors[m];
        POINT corner = {mon.left, mon.top};
        ScreenToClient(hwnd, &corner);
        SetViewportOrgEx(dc, corner.x, corner.y, NULL);
        PaintPicture(dc, mon.right - mon.left, mon.bottom - mon.top,
                     static_cast<int>(m % kPalettes));
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Pixels of monitor m's block interiors (20 pixels in from every edge, the detail and its
// surroundings left out) that do not show the colour its picture gives them.
int WrongBlockPixels(const wintest::ScreenPixels &s, size_t m) {
  const RECT &mon = gMonitors[m];
  int w = mon.right - mon.left, h = mon.bottom - mon.top;
  RECT d = DetailRect(w, h);
  int wrong = 0;
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      RECT r = BlockRect(w, h, row, col);
      for (int y = r.top + 20; y < r.bottom - 20; y += 3)
        for (int x = r.left + 20; x < r.right - 20; x += 3) {
          if (x >= d.left - 20 && x < d.right + 20 && y >= d.top - 20 && y < d.bottom + 20)
            continue;
          wrong += s.At(mon.left + x, mon.top + y) != kPalette[m % kPalettes][row][col];
        }
    }
  return wrong;
}

// Pixels of monitor m that differ between two readings.
int ChangedPixels(const wintest::ScreenPixels &a, const wintest::ScreenPixels &b, size_t m) {
  const RECT &mon = gMonitors[m];
  int n = 0;
  for (int y = mon.top; y < mon.bottom; ++y)
    for (int x = mon.left; x < mon.right; ++x) n += a.At(x, y) != b.At(x, y);
  return n;
}

void MovePointerBy(int dx, int dy) {
  INPUT move = {};
  move.type = INPUT_MOUSE;
  move.mi.dx = dx;
  move.mi.dy = dy;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &move, sizeof move);
}

// Long enough for the 32-bit module, whose start under emulation takes a minute.
const DWORD kStartMs = 240000;
const DWORD kExitMs = 120000;

class SaverMonitors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA c = {};
    c.lpfnWndProc = PictureProc;
    c.hInstance = GetModuleHandleA(NULL);
    c.lpszClassName = "VandrelMonitorPicture";
    RegisterClassA(&c);
  }
  void SetUp() override {
    gMonitors.clear();
    EnumDisplayMonitors(NULL, NULL, AddMonitor, 0);
    ASSERT_GE(gMonitors.size(), 2u) << "this system shows one monitor";
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), static_cast<int>(gMonitors.size()));
    RECT all = MonitorUnion(), virt = VirtualScreen();
    ASSERT_TRUE(EqualRect(&all, &virt))
        << "monitors span " << Text(all) << ", the virtual screen is " << Text(virt);
    if (gExpectVirtual) {
      ASSERT_TRUE(EqualRect(&virt, &gExpectedVirtual))
          << "the virtual screen is " << Text(virt) << ", not " << Text(gExpectedVirtual);
    }
    // The pointer must be at rest before a saver starts, or the saver sees it arrive.
    RestPointerOn(gMonitors[0]);
    ASSERT_EQ(FindWindowA("WindowsScreenSaverClass", NULL), nullptr) << "a saver already runs";
  }
  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    wintest::Pump(50);
  }
  static void RestPointerOn(const RECT &monitor) {
    POINT c = Centre(monitor);
    SetCursorPos(c.x, c.y);
    wintest::Pump(300);
  }
  // One window over every monitor (closing a window takes about 2 s under Wine without a
  // window manager): each monitor's picture, or (plain) the default class colour. Shown in the
  // front, not made the active one (which ends a running saver).
  HWND ShowWindowOverAll(bool plain) {
    RECT r = MonitorUnion();
    HWND w = CreateWindowExA(0, plain ? "Static" : "VandrelMonitorPicture", "picture", WS_POPUP,
                             r.left, r.top, r.right - r.left, r.bottom - r.top, NULL, NULL,
                             GetModuleHandleA(NULL), NULL);
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    UpdateWindow(w);
    windows_.push_back(w);
    return w;
  }
  std::vector<HWND> windows_;
};

TEST_F(SaverMonitors, OneWindowCoversEveryMonitorAndStaysOnTop) {
  wintest::SaverRun saver;
  ASSERT_TRUE(saver.Start(gModulePath, "/s"));
  HWND hwnd = wintest::WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  RECT r, all = MonitorUnion();
  GetWindowRect(hwnd, &r);
  EXPECT_TRUE(EqualRect(&r, &all))
      << "the window covers " << Text(r) << ", the monitors " << Text(all);
  EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);

  // A window opened later and brought to the front stays beneath it, on every monitor.
  ShowWindowOverAll(true);
  wintest::Pump(500);
  for (size_t m = 0; m < gMonitors.size(); ++m) {
    const RECT &mon = gMonitors[m];
    POINT spots[] = {Centre(mon), {mon.left + 1, mon.top + 1}, {mon.right - 2, mon.bottom - 2}};
    for (POINT p : spots)
      EXPECT_EQ(WindowFromPoint(p), hwnd) << "at " << p.x << "," << p.y << " on monitor " << m;
  }
  EXPECT_EQ(saver.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE));

  PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
}

TEST_F(SaverMonitors, EveryMonitorShowsTheDesktopAtOnceAndMelts) {
  ShowWindowOverAll(false);
  wintest::Pump(300);
  RECT all = MonitorUnion();
  wintest::ScreenPixels before = wintest::ReadScreen(all);
  for (size_t m = 0; m < gMonitors.size(); ++m)
    ASSERT_EQ(WrongBlockPixels(before, m), 0) << "the picture is not on monitor " << m;

  wintest::SaverRun saver;
  ASSERT_TRUE(saver.Start(gModulePath, "/s"));
  HWND hwnd = wintest::WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  // From here on what the screen shows is the saver's: the picture beneath it is gone.
  for (HWND w : windows_) DestroyWindow(w);
  windows_.clear();

  wintest::Pump(1500);
  wintest::ScreenPixels early = wintest::ReadScreen(all);
  for (size_t m = 0; m < gMonitors.size(); ++m)
    EXPECT_EQ(WrongBlockPixels(early, m), 0) << "monitor " << m << " does not show its picture";
  wintest::Pump(2500);
  wintest::ScreenPixels later = wintest::ReadScreen(all);
  for (size_t m = 0; m < gMonitors.size(); ++m) {
    EXPECT_EQ(WrongBlockPixels(later, m), 0) << "uniform areas of monitor " << m << " changed";
    int changed = ChangedPixels(early, later, m);
    std::printf("monitor %zu (%s): %d pixels changed in 2.5 s\n", m, Text(gMonitors[m]).c_str(),
                changed);
    EXPECT_GT(changed, 500) << "monitor " << m << " does not melt";
  }

  PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
}

TEST_F(SaverMonitors, PointerTravelOnAnotherMonitorEndsIt) {
  const RECT &second = gMonitors[SecondaryIndex()];
  RestPointerOn(second);
  wintest::SaverRun saver;
  ASSERT_TRUE(saver.Start(gModulePath, "/s"));
  HWND hwnd = wintest::WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  wintest::Pump(1000);
  ASSERT_EQ(saver.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "it ended before the move";

  MovePointerBy(30, 20);
  POINT now;
  GetCursorPos(&now);
  EXPECT_TRUE(PtInRect(&second, now)) << "the pointer left the monitor: " << now.x << "," << now.y;
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
  EXPECT_FALSE(IsWindow(hwnd) && IsWindowVisible(hwnd));
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: saver_monitors_test PATH-TO-Vandrel.scr [L,T,R,B]\n");
    return 2;
  }
  gModulePath = wintest::WindowsPath(argv[1]);
  if (argc > 2) {
    long l, t, r, b;
    if (std::sscanf(argv[2], "%ld,%ld,%ld,%ld", &l, &t, &r, &b) != 4) {
      std::fprintf(stderr, "not a rectangle: %s\n", argv[2]);
      return 2;
    }
    gExpectedVirtual = {l, t, r, b};
    gExpectVirtual = true;
  }
  return RUN_ALL_TESTS();
}
