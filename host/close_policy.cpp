// When the saver may end: close on input, and on the Windows 95 family only once the
// system's password verifier agrees.
#include "host.h"

void SetSaverRunningFlag(BOOL on) {
  if (!gHostState.onWin95) return;
  UINT previous;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, on, &previous, 0);
}
