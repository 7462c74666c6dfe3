// A blank screen for tests that start the saver over nothing: a black window over the whole
// screen, which the caller destroys at the end. (The X root alone is not enough: a window that
// another test or the demo left behind may still be on it.)
#pragma once

#include <windows.h>

#include "win_test_support.h"

namespace wintest {

inline HWND BlankTheScreen() {
  WNDCLASSA c = {};
  c.lpfnWndProc = DefWindowProcA;
  c.hInstance = GetModuleHandleA(NULL);
  c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  c.lpszClassName = "VandrelTestBlankScreen";
  RegisterClassA(&c);  // fails harmlessly from the second call on
  int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (w <= 0 || h <= 0) {
    x = y = 0;
    w = GetSystemMetrics(SM_CXSCREEN);
    h = GetSystemMetrics(SM_CYSCREEN);
  }
  HWND black = CreateWindowExA(WS_EX_TOPMOST, c.lpszClassName, "blank", WS_POPUP | WS_VISIBLE, x, y,
                               w, h, NULL, NULL, c.hInstance, NULL);
  UpdateWindow(black);
  Pump(100);
  return black;
}

}  // namespace wintest
