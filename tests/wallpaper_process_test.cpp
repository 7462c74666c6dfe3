// Vandrel.scr as its own process over a blank screen, with the user's wallpaper set in the
// registry as the system keeps it: the saver shows the wallpaper and melts it, and with a
// wallpaper that is no picture (or one far too large) it starts at once, shows the background
// colour and closes on the first input.
//   wallpaper_process_test PATH-TO-Vandrel.scr WALLPAPER-FOLDER [gtest flags]
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "blank_screen.h"
#include "saver_run.h"
#include "win_test_support.h"

namespace {

std::string gModulePath;  // Windows paths
std::string gFolder;
std::string gUnixFolder;

const char kDesktopKey[] = "Control Panel\\Desktop";

// The values of the user's desktop key that the tests change, and what they held before.
const char *const kValues[] = {"Wallpaper", "WallpaperStyle", "TileWallpaper"};
struct SavedValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};
SavedValue gSaved[3];

void SetString(const char *name, const std::string &text) {
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetWallpaper(const std::string &path, const char *style) {
  SetString("Wallpaper", path);
  SetString("WallpaperStyle", style);
  SetString("TileWallpaper", "0");
}

using wintest::SaverRun;
using wintest::WaitForSaverWindow;

const DWORD kStartMs = 60000;
const DWORD kExitMs = 30000;

std::vector<RECT> Monitors() {
  std::vector<RECT> monitors;
  EnumDisplayMonitors(
      NULL, NULL,
      [](HMONITOR, HDC, LPRECT bounds, LPARAM list) {
        reinterpret_cast<std::vector<RECT> *>(list)->push_back(*bounds);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

// Points of a lattice over every monitor.
std::vector<POINT> Lattice() {
  std::vector<POINT> points;
  for (const RECT &m : Monitors())
    for (int y = m.top + 7; y < m.bottom; y += 53)
      for (int x = m.left + 11; x < m.right; x += 59) points.push_back(POINT{x, y});
  return points;
}

// Lattice points in neither colour.
int PointsNotIn(COLORREF colour, COLORREF other = CLR_INVALID) {
  HDC screen = GetDC(NULL);
  int n = 0;
  for (POINT p : Lattice()) {
    COLORREF c = GetPixel(screen, p.x, p.y);
    n += c != colour && c != other;
  }
  ReleaseDC(NULL, screen);
  return n;
}

std::vector<COLORREF> ReadLattice() {
  HDC screen = GetDC(NULL);
  std::vector<COLORREF> colours;
  for (POINT p : Lattice()) colours.push_back(GetPixel(screen, p.x, p.y));
  ReleaseDC(NULL, screen);
  return colours;
}

void PressKey() {
  INPUT key[2] = {};
  key[0].type = key[1].type = INPUT_KEYBOARD;
  key[0].ki.wVk = key[1].ki.wVk = VK_SHIFT;
  key[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, key, sizeof key[0]);
}

void MovePointer() {
  INPUT move = {};
  move.type = INPUT_MOUSE;
  move.mi.dx = 30;
  move.mi.dy = 20;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &move, sizeof move);
}

class WallpaperProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (int i = 0; i < 3; ++i) {
      DWORD size = 0;
      if (RegQueryValueExA(key, kValues[i], NULL, &gSaved[i].type, NULL, &size) != ERROR_SUCCESS)
        continue;
      gSaved[i].data.resize(size);
      gSaved[i].present = RegQueryValueExA(key, kValues[i], NULL, &gSaved[i].type,
                                           gSaved[i].data.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }
  static void TearDownTestSuite() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      return;
    for (int i = 0; i < 3; ++i)
      if (gSaved[i].present)
        RegSetValueExA(key, kValues[i], 0, gSaved[i].type, gSaved[i].data.data(),
                       static_cast<DWORD>(gSaved[i].data.size()));
      else
        RegDeleteValueA(key, kValues[i]);
    RegCloseKey(key);
  }
  void SetUp() override {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
    wintest::Pump(300);
    ASSERT_EQ(FindWindowA("WindowsScreenSaverClass", NULL), nullptr) << "a saver already runs";
    blankWindow_ = wintest::BlankTheScreen();
    HDC screen = GetDC(NULL);
    blank_ = GetPixel(screen, 0, 0);
    ReleaseDC(NULL, screen);
    ASSERT_EQ(PointsNotIn(blank_), 0) << "the test display is not blank";
  }
  void TearDown() override {
    DestroyWindow(blankWindow_);
    wintest::Pump(50);
  }
  COLORREF blank_ = 0;
  HWND blankWindow_ = NULL;
};

bool Near(COLORREF a, COLORREF b) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > 12)
      return false;
  return true;
}

// The grid wallpaper (480 x 360, cells of 120) centred on each monitor: twelve colours in the
// middle of every monitor, the background colour in its corners, and then it melts.
TEST_F(WallpaperProcess, BlankScreenShowsTheWallpaperOnEachMonitorAndItMelts) {
  SetWallpaper(gFolder + "grid.jpg", "0");
  SaverRun saver;
  ASSERT_TRUE(saver.Start(gModulePath, "/s"));
  HWND hwnd = WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr);
  COLORREF background = GetSysColor(COLOR_DESKTOP);
  // The picture follows the first frame, in the background colour, once decoded.
  EXPECT_TRUE(wintest::PumpUntil([&] { return PointsNotIn(background, blank_) > 0; }, kStartMs));
  wintest::Pump(300);
  std::vector<RECT> monitors = Monitors();
  std::vector<COLORREF> first;
  HDC screen = GetDC(NULL);
  for (const RECT &m : monitors) {
    int left = m.left + (m.right - m.left - 480) / 2, top = m.top + (m.bottom - m.top - 360) / 2;
    std::vector<COLORREF> cells;
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col)
        cells.push_back(GetPixel(screen, left + col * 120 + 60, top + row * 120 + 60));
    for (size_t i = 0; i < cells.size(); ++i) {
      EXPECT_FALSE(Near(cells[i], background)) << "cell " << i;
      for (size_t j = i + 1; j < cells.size(); ++j)
        EXPECT_FALSE(Near(cells[i], cells[j])) << "cells " << i << " and " << j << " alike";
      if (!first.empty()) {
        EXPECT_TRUE(Near(cells[i], first[i])) << "cell " << i << " unlike the first monitor's";
      }
    }
    if (first.empty()) first = cells;
    for (POINT corner : {POINT{m.left + 3, m.top + 3}, POINT{m.right - 4, m.bottom - 4}})
      EXPECT_EQ(GetPixel(screen, corner.x, corner.y), background);
  }
  ReleaseDC(NULL, screen);
  // Colour runs only across the edges between cells: watch the two rows of pixels on either
  // side of the edge between the first and second row of cells on the primary monitor.
  int left = (GetSystemMetrics(SM_CXSCREEN) - 480) / 2;
  int edgeY = (GetSystemMetrics(SM_CYSCREEN) - 360) / 2 + 120;
  auto edge = [&] {
    std::vector<COLORREF> pixels;
    HDC dc = GetDC(NULL);
    for (int x = left + 8; x < left + 480 - 8; ++x)
      for (int y : {edgeY - 1, edgeY}) pixels.push_back(GetPixel(dc, x, y));
    ReleaseDC(NULL, dc);
    return pixels;
  };
  std::vector<COLORREF> early = edge(), earlyLattice = ReadLattice();
  wintest::Pump(3000);
  std::vector<COLORREF> later = edge(), laterLattice = ReadLattice();
  int changed = 0, same = 0;
  for (size_t i = 0; i < early.size(); ++i) changed += early[i] != later[i];
  for (size_t i = 0; i < earlyLattice.size(); ++i) same += earlyLattice[i] == laterLattice[i];
  EXPECT_GT(changed, 20) << "the edge between two rows of cells has not melted";
  EXPECT_GT(same, static_cast<int>(earlyLattice.size()) * 9 / 10) << "not the same picture";
  PressKey();
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
}

// Each bad wallpaper: the window appears, shows the background colour only, and the first
// input ends the saver.
void RunBadWallpaper(const char *what, const std::string &path, bool byKey) {
  SetWallpaper(path, "2");
  SaverRun saver;
  DWORD start = GetTickCount();
  ASSERT_TRUE(saver.Start(gModulePath, "/s")) << what;
  HWND hwnd = WaitForSaverWindow(kStartMs);
  ASSERT_NE(hwnd, nullptr) << what;
  DWORD shownMs = GetTickCount() - start;
  wintest::Pump(400);
  EXPECT_EQ(PointsNotIn(GetSysColor(COLOR_DESKTOP)), 0) << what;
  if (byKey)
    PressKey();
  else
    MovePointer();
  EXPECT_EQ(saver.WaitExit(kExitMs), 0u) << what;
  std::printf("%s: window shown %lu ms after the start, closed by the first %s\n", what, shownMs,
              byKey ? "key" : "pointer move");
}

// From the process's start: under Wine on a shared 2-core machine the first frame comes 0.6 to
// 2 s after it, with or without a wallpaper, while Wine's GDI+ decodes this picture in 2.5 to 7 s.
const DWORD kFirstFrameMs = 4000;

// A 45-megapixel JPEG: the first frame comes at once in the background colour (its colour tells
// that nothing waited for the picture), the picture follows, and a key closes the saver, once
// after the picture came and once while it is still being decoded.
TEST_F(WallpaperProcess, LargePictureFollowsAFirstFrameThatComesAtOnce) {
  SetWallpaper(gFolder + "large45.jpg", "10");
  COLORREF background = GetSysColor(COLOR_DESKTOP);
  const int points = static_cast<int>(Lattice().size());
  for (bool waitForPicture : {true, false}) {
    SaverRun saver;
    DWORD start = GetTickCount();
    ASSERT_TRUE(saver.Start(gModulePath, "/s"));
    EXPECT_TRUE(wintest::PumpUntil([&] { return PointsNotIn(blank_) == points; }, kFirstFrameMs));
    std::printf("45-megapixel JPEG: first frame %lu ms after the start\n", GetTickCount() - start);
    EXPECT_EQ(PointsNotIn(background), 0);
    bool picture =
        !waitForPicture ||
        wintest::PumpUntil([&] { return PointsNotIn(background, blank_) == points; }, kStartMs);
    EXPECT_TRUE(picture) << "the picture never came";
    HWND hwnd = FindWindowA("WindowsScreenSaverClass", NULL);
    PressKey();
    EXPECT_TRUE(wintest::PumpUntil([&] { return !IsWindowVisible(hwnd); }, 1000));
    EXPECT_EQ(saver.WaitExit(kExitMs), 0u);
  }
}

std::string HugeJpeg() {
  // A real 20000 x 20000 baseline JPEG of mid-grey: every 8 x 8 block "no change, end of
  // block", two bits, with one-code tables.
  std::string name = "huge20000.jpg";
  std::ofstream out(gUnixFolder + name, std::ios::binary);
  const unsigned char head[] = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
  out.write(reinterpret_cast<const char *>(head), sizeof head);
  for (int i = 0; i < 64; ++i) out.put(1);
  const unsigned char frame[] = {0xFF, 0xC0, 0, 11, 8, 0x4E, 0x20, 0x4E, 0x20, 1, 1, 0x11, 0};
  out.write(reinterpret_cast<const char *>(frame), sizeof frame);
  for (int table : {0x00, 0x10}) {
    const unsigned char dht[] = {0xFF, 0xC4, 0, 20, static_cast<unsigned char>(table), 1};
    out.write(reinterpret_cast<const char *>(dht), sizeof dht);
    for (int i = 0; i < 16; ++i) out.put(0);
  }
  const unsigned char scan[] = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0};
  out.write(reinterpret_cast<const char *>(scan), sizeof scan);
  std::string zeros(2500 * 2500 * 2 / 8, '\0');
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  out.put(static_cast<char>(0xFF));
  out.put(static_cast<char>(0xD9));
  return gFolder + name;
}

// A picture whose full name is 259 characters long.
std::string CutPathPicture() {
  std::string name = std::string(MAX_PATH - 1 - gFolder.size() - 4, 'y') + ".bmp";
  EXPECT_TRUE(CopyFileA((gFolder + "grid.bmp").c_str(), (gFolder + name).c_str(), FALSE));
  return gFolder + name;
}

TEST_F(WallpaperProcess, BadWallpapersGiveTheBackgroundColourAndCloseOnTheFirstInput) {
  const struct {
    const char *what;
    std::string path;
  } cases[] = {
      {"a 20000 x 20000 JPEG", HugeJpeg()},
      {"a truncated JPEG", gFolder + "truncated.jpg"},
      {"a text file called .jpg", gFolder + "text.jpg"},
      {"a zero-byte file", gFolder + "empty.jpg"},
      {"a folder", gFolder + "folder.jpg"},
      {"a missing file", gFolder + "not-there.jpg"},
      {"an empty name", ""},
      // The registry holds it whole; the system's answer to the saver cuts it to 259
      // characters, and those name another picture.
      {"a path longer than MAX_PATH", CutPathPicture() + "-and-more.bmp"},
  };
  bool byKey = true;
  for (const auto &c : cases) {
    RunBadWallpaper(c.what, c.path, byKey);
    byKey = !byKey;
  }
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: wallpaper_process_test PATH-TO-Vandrel.scr WALLPAPER-FOLDER\n");
    return 2;
  }
  gModulePath = wintest::WindowsPath(argv[1]);
  gUnixFolder = std::string(argv[2]) + "/";
  gFolder = wintest::WindowsPath(gUnixFolder);
  return RUN_ALL_TESTS();
}
