// Stands in for the system's screen-saver password verifier. The test scripts its answer and
// reads its log through environment variables of the process that loads it:
//   VANDREL_VERIFY_ANSWER   "1" accepts, anything else refuses
//   VANDREL_VERIFY_CALLS    how many times VerifyScreenSavePwd ran
//   VANDREL_VERIFY_RUNNING  the saver-running flag the system reported during the last call
//   VANDREL_VERIFY_LOADS    how many times this module was loaded into the process
//   VANDREL_VERIFY_NESTED   "1": like a password dialog, run a message loop of its own for
//                           100 ms, with a key, a button and a display change in the saver
//                           meanwhile;
//                           then VANDREL_VERIFY_NESTED_CLOSES counts the close requests that
//                           input queued and VANDREL_VERIFY_NESTED_TICKS the timer ticks the
//                           saver received during the loop
//   VANDREL_VERIFY_FLOOD    a number N: like VANDREL_VERIFY_NESTED, but with N each of timer
//                           ticks, pointer moves (the pointer really moving), key presses and
//                           close requests posted to the saver, all dispatched by the
//                           verifier's own loop; VANDREL_VERIFY_DEPTH_MAX records how deeply
//                           checks nested (1 when no second check started)
//   VANDREL_VERIFY_LOG      a file that gets one line per call, for runs in another process
//   VANDREL_VERIFY_FAULT    "1": the call ends in an access violation
// Built without VERIFIER_ENTRY it exports nothing at all, like a broken or foreign module of
// the verifier's name.
#include <windows.h>

#include <cstdio>

#include "env_number.h"

#if defined(VERIFIER_ENTRY)
namespace {

int gDepth = 0;

void Log(const char *line) {
  char path[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("VANDREL_VERIFY_LOG", path, sizeof path)) return;
  if (FILE *file = std::fopen(path, "a")) {
    std::fputs(line, file);
    std::fclose(file);
  }
}

// Everything a hostile user and a busy system could throw at the saver while it waits.
void Flood(HWND saverWindow, int count) {
  POINT start;
  GetCursorPos(&start);
  for (int i = 0; i < count; ++i) {
    PostMessageA(saverWindow, WM_TIMER, 1, 0);
    SetCursorPos(start.x + (i % 2 ? 40 : -40), start.y + (i % 2 ? 30 : -30));
    PostMessageA(saverWindow, WM_MOUSEMOVE, 0, 0);
    PostMessageA(saverWindow, WM_KEYDOWN, 0x41, 0);
    PostMessageA(saverWindow, WM_CLOSE, 0, 0);
  }
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  SetCursorPos(start.x, start.y);
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND saverWindow) {
  ++gDepth;
  if (gDepth > EnvNumber("VANDREL_VERIFY_DEPTH_MAX"))
    SetEnvNumber("VANDREL_VERIFY_DEPTH_MAX", gDepth);
  SetEnvNumber("VANDREL_VERIFY_CALLS", EnvNumber("VANDREL_VERIFY_CALLS") + 1);
  BOOL running = FALSE;
  int runningFlag = SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0) ? running : -1;
  SetEnvNumber("VANDREL_VERIFY_RUNNING", runningFlag);
  SetEnvNumber("VANDREL_VERIFY_WINDOW", IsWindow(saverWindow) ? 1 : 0);
  char line[64];
  std::snprintf(line, sizeof line, "verify running=%d\n", runningFlag);
  Log(line);
  if (EnvNumber("VANDREL_VERIFY_FAULT") == 1) {
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
  }
  if (EnvNumber("VANDREL_VERIFY_FLOOD") > 0) Flood(saverWindow, EnvNumber("VANDREL_VERIFY_FLOOD"));
  if (EnvNumber("VANDREL_VERIFY_NESTED") == 1) {
    PostMessageA(saverWindow, WM_KEYDOWN, 0x41, 0);
    PostMessageA(saverWindow, WM_LBUTTONDOWN, 0, 0);
    PostMessageA(saverWindow, WM_DISPLAYCHANGE, 32, 0);
    int ticks = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 100) {
      MSG msg;
      while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && msg.hwnd == saverWindow) ++ticks;
        if (msg.message == WM_CLOSE) {
          SetEnvNumber("VANDREL_VERIFY_NESTED_CLOSES",
                       EnvNumber("VANDREL_VERIFY_NESTED_CLOSES") + 1);
          continue;  // kept from the window, which would otherwise check again
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(1);
    }
    SetEnvNumber("VANDREL_VERIFY_NESTED_TICKS", ticks);
  }
  --gDepth;
  return EnvNumber("VANDREL_VERIFY_ANSWER") == 1;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    SetEnvNumber("VANDREL_VERIFY_LOADS", EnvNumber("VANDREL_VERIFY_LOADS") + 1);
  return TRUE;
}
