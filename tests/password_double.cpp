// Stands in for the system's screen-saver password verifier. The test scripts its answer and
// reads its log through environment variables of the process that loads it:
//   VANDREL_VERIFY_ANSWER   "1" accepts, anything else refuses
//   VANDREL_VERIFY_CALLS    how many times VerifyScreenSavePwd ran
//   VANDREL_VERIFY_RUNNING  the saver-running flag the system reported during the last call
//   VANDREL_VERIFY_LOADS    how many times this module was loaded into the process
//   VANDREL_VERIFY_NESTED   "1": like a password dialog, run a message loop of its own for
//                           100 ms, with a key and a button pressed in the saver meanwhile;
//                           then VANDREL_VERIFY_NESTED_CLOSES counts the close requests that
//                           input queued and VANDREL_VERIFY_NESTED_TICKS the timer ticks the
//                           saver received during the loop
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

int ReadNumber(const char *name) {
  char text[32] = {};
  if (!GetEnvironmentVariableA(name, text, sizeof text)) return 0;
  return std::atoi(text);
}

void WriteNumber(const char *name, int value) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", value);
  SetEnvironmentVariableA(name, text);
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND saverWindow) {
  WriteNumber("VANDREL_VERIFY_CALLS", ReadNumber("VANDREL_VERIFY_CALLS") + 1);
  BOOL running = FALSE;
  WriteNumber("VANDREL_VERIFY_RUNNING",
              SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0) ? running : -1);
  WriteNumber("VANDREL_VERIFY_WINDOW", IsWindow(saverWindow) ? 1 : 0);
  if (ReadNumber("VANDREL_VERIFY_NESTED") == 1) {
    PostMessageA(saverWindow, WM_KEYDOWN, 0x41, 0);
    PostMessageA(saverWindow, WM_LBUTTONDOWN, 0, 0);
    int ticks = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 100) {
      MSG msg;
      while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && msg.hwnd == saverWindow) ++ticks;
        if (msg.message == WM_CLOSE) {
          WriteNumber("VANDREL_VERIFY_NESTED_CLOSES",
                      ReadNumber("VANDREL_VERIFY_NESTED_CLOSES") + 1);
          continue;  // kept from the window, which would otherwise check again
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(1);
    }
    WriteNumber("VANDREL_VERIFY_NESTED_TICKS", ticks);
  }
  return ReadNumber("VANDREL_VERIFY_ANSWER") == 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    WriteNumber("VANDREL_VERIFY_LOADS", ReadNumber("VANDREL_VERIFY_LOADS") + 1);
  return TRUE;
}
