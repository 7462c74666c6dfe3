// Vandrel.scr started and watched from outside as the system does, and the screen read back
// as it shows: for test programs that drive the finished module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace wintest {

struct SaverRun {
  PROCESS_INFORMATION process = {};
  bool started = false;

  bool Start(const std::string &modulePath, const std::string &args, char *desktop = NULL) {
    std::string line = "\"" + modulePath + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.lpDesktop = desktop;
    started = CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &process);
    return started;
  }
  // Waits for the exit while keeping this thread's windows answering; the exit code, or
  // STILL_ACTIVE if the process runs on.
  DWORD WaitExit(DWORD ms) {
    PumpUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, ms);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
  }
  ~SaverRun() {
    if (!started) return;
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0)
      TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
};

// Runs a program of the host system (Wine starts a Unix executable named by its path) and waits
// for it: xdotool types and moves through the X server, as a user does.
inline void RunHostProgram(std::string commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return;
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// The full-screen saver's window once it is shown: by then it has read the screen.
inline HWND WaitForSaverWindow(DWORD ms) {
  HWND found = NULL;
  PumpUntil(
      [&] {
        found = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
        return found != NULL && IsWindowVisible(found);
      },
      ms);
  return found;
}

// A rectangle of the screen as the system shows it, in screen coordinates.
struct ScreenPixels {
  RECT area = {};
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top-down
  COLORREF At(int x, int y) const {
    uint32_t p =
        pixels[static_cast<size_t>(y - area.top) * (area.right - area.left) + (x - area.left)];
    return RGB(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
  }
};

inline ScreenPixels ReadScreen(RECT area) {
  ScreenPixels s;
  s.area = area;
  int w = area.right - area.left, h = area.bottom - area.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HDC mem = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(mem, bitmap);
  HDC screen = GetDC(NULL);
  BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
  ReleaseDC(NULL, screen);
  GdiFlush();
  const uint32_t *p = static_cast<const uint32_t *>(bits);
  s.pixels.assign(p, p + static_cast<size_t>(w) * h);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(bitmap);
  return s;
}

}  // namespace wintest
