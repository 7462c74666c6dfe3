// The saver's one window and its message loop.
#include "host.h"

int RunSaverWindow(HWND) {
  return -1;
}  // the window is not built yet
