// Stands in for the system's screen-saver password verifier. The test scripts its answer and
// reads its log through environment variables of the process that loads it:
//   VANDREL_VERIFY_ANSWER   "1" accepts, anything else refuses
//   VANDREL_VERIFY_CALLS    how many times VerifyScreenSavePwd ran
//   VANDREL_VERIFY_RUNNING  the saver-running flag the system reported during the last call
//   VANDREL_VERIFY_LOADS    how many times this module was loaded into the process
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
  return ReadNumber("VANDREL_VERIFY_ANSWER") == 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    WriteNumber("VANDREL_VERIFY_LOADS", ReadNumber("VANDREL_VERIFY_LOADS") + 1);
  return TRUE;
}
