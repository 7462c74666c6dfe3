// A stand-in for the saver with every fault saver_soak looks for, so the suite sees each of its
// checks fail: a window of the saver's class and title over the whole screen, ticking on a
// 0 ms timer like the saver, that on every 10th tick loses a handle, a GDI object and 200 KB
// of memory, stops ticking once for 1.4 s at 8.4 s, and ignores the pointer.
#include <windows.h>

#include <cstring>

namespace {

const UINT_PTR kTimer = 1;
const DWORD kStallAtMs = 8400;
const DWORD kStallMs = 1400;
const SIZE_T kLostBytes = 200 * 1024;

DWORD gStart;
bool gStalled;
unsigned gTicks;

void Tick() {
  if (++gTicks % 10 == 0) {
    CreateEventA(NULL, TRUE, FALSE, NULL);
    CreateSolidBrush(RGB(gTicks & 0xFF, 0, 0));
    // Written to, so that it is in use by every measure of memory and not only reserved.
    void *lost = VirtualAlloc(NULL, kLostBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (lost != NULL) std::memset(lost, 0x5A, kLostBytes);
  }
  if (!gStalled && GetTickCount() - gStart >= kStallAtMs) {
    gStalled = true;
    Sleep(kStallMs);
  }
}

LRESULT CALLBACK DoubleProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      Tick();
      return 0;
    case WM_KEYDOWN:
      PostMessageA(hwnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA c = {};
  c.lpfnWndProc = DoubleProc;
  c.hInstance = instance;
  c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  c.lpszClassName = "WindowsScreenSaverClass";
  RegisterClassA(&c);
  HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, c.lpszClassName, "Screen Saver", WS_POPUP | WS_VISIBLE,
                              0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                              NULL, NULL, instance, NULL);
  if (hwnd == NULL) return 3;
  gStart = GetTickCount();
  SetTimer(hwnd, kTimer, 0, NULL);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  return static_cast<int>(msg.wParam);
}
