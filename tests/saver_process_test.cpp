// Vandrel.scr as its own process, started and watched from outside like the system does:
// saver_process_test PATH-TO-Vandrel.scr [gtest flags].
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../bench/process_counts.h"
#include "../bench/unix_processes.h"
#include "saver_run.h"

namespace {

std::string gModulePath;  // Windows form of the module's path

const int kCols = 4, kRows = 3;
const COLORREF kBlockColors[kRows][kCols] = {
    {RGB(200, 30, 30), RGB(30, 200, 30), RGB(30, 30, 200), RGB(220, 220, 40)},
    {RGB(40, 220, 220), RGB(220, 40, 220), RGB(128, 128, 128), RGB(250, 250, 250)},
    {RGB(90, 60, 10), RGB(10, 90, 60), RGB(60, 10, 90), RGB(170, 110, 50)},
};

int ScreenW() {
  return GetSystemMetrics(SM_CXSCREEN);
}
int ScreenH() {
  return GetSystemMetrics(SM_CYSCREEN);
}

RECT BlockRect(int row, int col) {
  RECT r = {col * ScreenW() / kCols, row * ScreenH() / kRows, (col + 1) * ScreenW() / kCols,
            (row + 1) * ScreenH() / kRows};
  return r;
}

// The detail: a checkerboard of 4-pixel squares across the middle of the first block.
RECT DetailRect() {
  RECT b = BlockRect(0, 0);
  RECT r = {b.left + 100, b.top + 100, b.left + 300, b.top + 260};
  return r;
}

void PaintPicture(HDC dc) {
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      RECT r = BlockRect(row, col);
      HBRUSH brush = CreateSolidBrush(kBlockColors[row][col]);
      FillRect(dc, &r, brush);
      DeleteObject(brush);
    }
  RECT d = DetailRect();
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
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      PaintPicture(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

using Screenshot = wintest::ScreenPixels;

// The whole primary screen as the system shows it.
Screenshot TakeScreenshot() {
  RECT screen = {0, 0, ScreenW(), ScreenH()};
  return wintest::ReadScreen(screen);
}

// Pixels of block interiors (40 pixels in from every edge, the detail left out) that do not
// show their block's colour.
int WrongBlockPixels(const Screenshot &s) {
  RECT d = DetailRect();
  int wrong = 0;
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      RECT r = BlockRect(row, col);
      for (int y = r.top + 40; y < r.bottom - 40; y += 3)
        for (int x = r.left + 40; x < r.right - 40; x += 3) {
          if (x >= d.left - 40 && x < d.right + 40 && y >= d.top - 40 && y < d.bottom + 40)
            continue;
          wrong += s.At(x, y) != kBlockColors[row][col];
        }
    }
  return wrong;
}

int Differences(const Screenshot &a, const Screenshot &b) {
  int n = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) n += a.pixels[i] != b.pixels[i];
  return n;
}

// The module under test, started with a command tail.
struct Saver : wintest::SaverRun {
  bool Start(const std::string &args) { return SaverRun::Start(gModulePath, args); }
};

using wintest::WaitForSaverWindow;

// Long enough for the 32-bit module, whose start under emulation takes a minute.
const DWORD kStartMs = 240000;
const DWORD kExitMs = 120000;

class SaverProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA c = {};
    c.lpfnWndProc = PictureProc;
    c.hInstance = GetModuleHandleA(NULL);
    c.lpszClassName = "VandrelTestPicture";
    RegisterClassA(&c);
  }
  void SetUp() override {
    // The pointer must be at rest before a saver starts, or the saver sees it arrive.
    SetCursorPos(ScreenW() / 2, ScreenH() / 2);
    wintest::Pump(300);
    ASSERT_EQ(FindWindowA("WindowsScreenSaverClass", NULL), nullptr) << "a saver already runs";
  }
  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    wintest::Pump(50);
  }
  HWND ShowPicture() {
    HWND w = CreateWindowExA(0, "VandrelTestPicture", "picture", WS_POPUP | WS_VISIBLE, 0, 0,
                             ScreenW(), ScreenH(), NULL, NULL, GetModuleHandleA(NULL), NULL);
    windows_.push_back(w);
    UpdateWindow(w);
    wintest::Pump(200);
    return w;
  }
  std::vector<HWND> windows_;
};

TEST_F(SaverProcess, FullScreenMeltsThePictureAndAPointerMoveEndsIt) {
  ShowPicture();
  Screenshot before = TakeScreenshot();
  ASSERT_EQ(WrongBlockPixels(before), 0) << "the picture is not on the screen";

  Saver saver;
  ASSERT_TRUE(saver.Start("/s"));
  HWND hwnd = WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  RECT r;
  GetWindowRect(hwnd, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, ScreenW());
  EXPECT_EQ(r.bottom, ScreenH());
  EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  POINT centre = {ScreenW() / 2, ScreenH() / 2};
  EXPECT_EQ(WindowFromPoint(centre), hwnd);

  wintest::Pump(1500);
  Screenshot early = TakeScreenshot();
  EXPECT_EQ(WrongBlockPixels(early), 0) << "the saver does not show the picture";
  // Past its first second the saver wakes about ten times a second: 40 to 100 context
  // switches a second under Wine, where a hundred wakes a second took 400 to 950.
  long pid = soak::UnixPidOfProgram(gModulePath);
  long long switches = soak::UnixContextSwitches(pid);
  wintest::Pump(2500);
  double rate = (soak::UnixContextSwitches(pid) - switches) / 2.5;
  std::printf("the saver switched context %.0f times a second\n", rate);
  EXPECT_TRUE(switches < 0 || rate < 200) << rate;
  Screenshot later = TakeScreenshot();
  EXPECT_EQ(WrongBlockPixels(later), 0) << "uniform areas did not keep their colour";
  int changed = Differences(early, later);
  EXPECT_GT(changed, 500) << "the picture does not change";
  EXPECT_EQ(WindowFromPoint(centre), hwnd);

  // With the display off not a pixel changes; once it is on the melt goes on.
  PostMessageA(hwnd, WM_SYSCOMMAND, SC_MONITORPOWER, 2);
  wintest::Pump(300);
  Screenshot dark = TakeScreenshot();
  wintest::Pump(2000);
  EXPECT_EQ(Differences(dark, TakeScreenshot()), 0) << "it works on while the display is off";
  PostMessageA(hwnd, WM_SYSCOMMAND, SC_MONITORPOWER, -1);
  wintest::Pump(1500);
  EXPECT_GT(Differences(dark, TakeScreenshot()), 500) << "it does not melt on";
  // A move of a few pixels ends it.
  INPUT move = {};
  move.type = INPUT_MOUSE;
  move.mi.dx = 30;
  move.mi.dy = 20;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &move, sizeof move);
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
  EXPECT_FALSE(IsWindow(hwnd) && IsWindowVisible(hwnd));
}

// Displays that change under the running saver: a Wine virtual desktop of its own, whose size
// a program on it changes as a new monitor, a dock or a new resolution would. Its name is not
// the user's desktop's, so the saver takes it for a secure one and melts the plain desktop.
char gDisplaysDesktop[] = "VandrelDisplays";
LONG SetDisplaySize(SIZE size) {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = size.cx;
  mode.dmPelsHeight = size.cy;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  return ChangeDisplaySettingsExA(NULL, &mode, NULL, 0, NULL);
}
// Pixels of a plain area that are not its colour (the one in its middle): the melt's marks.
int MeltMarks(const Screenshot &s) {
  uint32_t plain = s.pixels[s.pixels.size() / 2 + (s.area.right - s.area.left) / 2];
  return static_cast<int>(s.pixels.size()) - std::count(s.pixels.begin(), s.pixels.end(), plain);
}
// Handles, GDI objects, private MB (where Wine leaves PrivateUsage 0, PagefileUsage is the same)
std::vector<double> UseOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX m = {};
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&m), sizeof m);
  return {static_cast<double>(soak::CountHandles(process)),
          static_cast<double>(soak::CountGdiObjects(process)),
          (m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage) / 1048576.0};
}

TEST_F(SaverProcess, FollowsTheDisplaysAsTheyChange) {
  if (!GetEnvironmentVariableA(gDisplaysDesktop, NULL, 0)) {  // this test again, on that desktop
    SetEnvironmentVariableA(gDisplaysDesktop, "1");
    wintest::SaverRun desktop, onDesktop;
    ASSERT_TRUE(desktop.Start("explorer.exe", "/desktop=VandrelDisplays,1024x768"));
    wintest::PumpUntil([] { return OpenDesktopA(gDisplaysDesktop, 0, 0, GENERIC_READ); }, 20000);
    wintest::Pump(500);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string args = "\"" + gModulePath + "\" --gtest_filter=*FollowsTheDisplays*";
    ASSERT_TRUE(onDesktop.Start(self, args, gDisplaysDesktop));
    EXPECT_EQ(onDesktop.WaitExit(kStartMs), 0u);
    return;
  }
  Saver saver;
  ASSERT_TRUE(saver.Start("/s"));
  HWND hwnd = WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  auto covers = [&](SIZE size) {
    RECT r = {}, screen = {0, 0, size.cx, size.cy};
    bool found = GetWindowRect(hwnd, &r);
    std::vector<double> use = UseOf(saver.process.hProcess);
    std::printf(
        "display %ldx%ld: window %ld,%ld-%ld,%ld, %.0f handles, %.0f GDI objects, %.1f MB\n",
        size.cx, size.cy, r.left, r.top, r.right, r.bottom, use[0], use[1], use[2]);
    return found && EqualRect(&r, &screen) &&
           WindowFromPoint(POINT{size.cx - 5, size.cy - 5}) == hwnd;
  };
  wintest::Pump(1000);
  EXPECT_TRUE(covers(SIZE{1024, 768}));
  // Grown, shrunk and back: the window covers the screen on top, what stays keeps the marks of
  // its melt, and an added part shows the desktop and melts.
  for (SIZE size : {SIZE{1280, 1024}, SIZE{800, 600}, SIZE{1024, 768}}) {
    RECT kept = {0, 0, std::min<LONG>(ScreenW(), size.cx), std::min<LONG>(ScreenH(), size.cy)};
    int marks = MeltMarks(wintest::ReadScreen(kept));
    ASSERT_EQ(SetDisplaySize(size), DISP_CHANGE_SUCCESSFUL);
    wintest::Pump(1000);
    EXPECT_TRUE(covers(size)) << size.cx;
    EXPECT_GT(MeltMarks(wintest::ReadScreen(kept)), marks / 2) << "the melt was lost";
    if (size.cx <= kept.right) continue;
    RECT added = {kept.right, 0, size.cx, size.cy};
    Screenshot a = wintest::ReadScreen(added);
    wintest::Pump(1500);
    EXPECT_GT(Differences(a, wintest::ReadScreen(added)), 100) << "the added part does not melt";
    EXPECT_NE(a.At(size.cx - 100, 150), 0u) << "a black strip";
  }
  // Many changes leave nothing behind, and the first input still ends the saver.
  std::vector<double> before = UseOf(saver.process.hProcess);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(SetDisplaySize(i % 2 ? SIZE{1024, 768} : SIZE{1280, 1024}), DISP_CHANGE_SUCCESSFUL);
    wintest::Pump(700);
  }
  std::vector<double> after = UseOf(saver.process.hProcess), slack = {2, 0, 2};  // image: 3-5 MB
  for (int i = 0; i < 3; ++i) EXPECT_LE(after[i], before[i] + slack[i]) << i << ": " << before[i];
  EXPECT_TRUE(covers(SIZE{1024, 768}));
  PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
}

// Any program may take the foreground once the user has been idle a while. The keys typed
// next must not go to it unseen, beneath a saver that stays on top: the saver ends first.
int gKeysCaught;
LRESULT CALLBACK KeyCatcherProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN) ++gKeysCaught;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST_F(SaverProcess, AnotherProgramTakingTheForegroundEndsIt) {
  Saver saver;
  ASSERT_TRUE(saver.Start("/s"));
  HWND saverWindow = WaitForSaverWindow(kStartMs);
  ASSERT_NE(saverWindow, nullptr);
  WNDCLASSA c = {};
  c.lpfnWndProc = KeyCatcherProc;
  c.hInstance = GetModuleHandleA(NULL);
  c.lpszClassName = "VandrelKeyCatcher";
  RegisterClassA(&c);
  HWND other = CreateWindowExA(0, c.lpszClassName, "Restart now?", WS_POPUP | WS_VISIBLE,
                               ScreenW() / 2 - 150, ScreenH() / 2 - 50, 300, 100, NULL, NULL,
                               c.hInstance, NULL);
  windows_.push_back(other);
  ASSERT_TRUE(SetForegroundWindow(other));
  wintest::Pump(500);
  wintest::RunHostProgram("/usr/bin/xdotool key Return");
  wintest::Pump(300);
  EXPECT_FALSE(gKeysCaught > 0 && IsWindowVisible(saverWindow))
      << "the key went to a window hidden beneath the saver";
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u) << "the saver stayed on top of the foreground program";
}

TEST_F(SaverProcess, SecondFullScreenStartLeavesTheFirstRunning) {
  Saver first;
  ASSERT_TRUE(first.Start("/s"));
  HWND hwnd = WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  Saver second;
  ASSERT_TRUE(second.Start("/s"));
  EXPECT_EQ(second.WaitExit(kExitMs), 0u);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(first.WaitExit(300), static_cast<DWORD>(STILL_ACTIVE));
  HWND other = FindWindowExA(NULL, hwnd, "WindowsScreenSaverClass", NULL);
  EXPECT_EQ(other, nullptr) << "a second saver window";

  PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(first.WaitExit(kExitMs), 0u);
}

TEST_F(SaverProcess, PreviewFillsItsParentIgnoresInputAndEndsWithIt) {
  ShowPicture();
  HWND parent = CreateWindowExA(0, "VandrelTestPicture", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                100, 100, 360, 280, NULL, NULL, GetModuleHandleA(NULL), NULL);
  windows_.push_back(parent);
  UpdateWindow(parent);
  wintest::Pump(200);
  RECT client;
  GetClientRect(parent, &client);

  Saver saver;
  ASSERT_TRUE(saver.Start("/p " + std::to_string(reinterpret_cast<uintptr_t>(parent))));
  HWND child = NULL;
  wintest::PumpUntil(
      [&] {
        return (child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", "Preview")) != NULL;
      },
      kStartMs);
  ASSERT_NE(child, nullptr);
  RECT r;
  GetClientRect(child, &r);
  EXPECT_EQ(r.right, client.right);
  EXPECT_EQ(r.bottom, client.bottom);
  EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & WS_CHILD, WS_CHILD);
  EXPECT_EQ(GetParent(child), parent);

  // It shows the part of the picture its parent covers, not a black surface.
  wintest::Pump(800);
  POINT inside = {client.right / 2, client.bottom / 2};
  ClientToScreen(parent, &inside);
  HDC screen = GetDC(NULL);
  EXPECT_EQ(GetPixel(screen, inside.x, inside.y), kBlockColors[0][0]);
  ReleaseDC(NULL, screen);

  PostMessageA(child, WM_KEYDOWN, VK_SPACE, 0);
  PostMessageA(child, WM_LBUTTONDOWN, 0, 0);
  SetCursorPos(inside.x + 50, inside.y + 40);
  PostMessageA(child, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(saver.WaitExit(800), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_TRUE(IsWindow(child));

  SendMessageA(parent, WM_CLOSE, 0, 0);
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
}

// The control panel may tear its window down at any moment while the preview draws: the
// preview ends with it, cleanly. (The preview's window can be found while it is still being
// made; a parent destroyed then leaves the preview without a window, which ends it with -1.
// So each case starts once the preview answers a message, that is once its loop runs.)
TEST_F(SaverProcess, PreviewEndsWhenItsParentIsDestroyedWhileItDraws) {
  for (DWORD delay : {0u, 50u, 700u}) {
    HWND parent = CreateWindowExA(0, "VandrelTestPicture", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  100, 100, 240, 180, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(parent, nullptr);
    Saver saver;
    ASSERT_TRUE(saver.Start("/p " + std::to_string(reinterpret_cast<uintptr_t>(parent))));
    HWND child = NULL;
    EXPECT_TRUE(wintest::PumpUntil(
        [&] {
          return (child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", "Preview")) !=
                 NULL;
        },
        kStartMs))
        << delay;
    DWORD_PTR answer;
    EXPECT_NE(SendMessageTimeoutA(child, WM_NULL, 0, 0, SMTO_NORMAL, kExitMs, &answer), 0)
        << "the preview's loop does not run";
    wintest::Pump(delay);
    DestroyWindow(parent);
    EXPECT_EQ(saver.WaitExit(kExitMs), 0u) << "parent destroyed " << delay << " ms after the start";
  }
}

TEST_F(SaverProcess, PreviewWithoutAWindowFails) {
  Saver saver;
  ASSERT_TRUE(saver.Start("/p 0"));
  EXPECT_EQ(saver.WaitExit(kExitMs), static_cast<DWORD>(-1));
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: saver_process_test PATH-TO-Vandrel.scr\n");
    return 2;
  }
  gModulePath = wintest::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
