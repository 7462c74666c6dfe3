// When the saver may end: close on input, and on the Windows 95 family only once the
// system's password verifier agrees.
#include "host.h"

void SetSaverRunningFlag(BOOL on) {
  if (!gHostState.onWin95) return;
  UINT previous;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, on, &previous, 0);
}

static void RequestClose(HWND hwnd) {
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

static uint32_t Distance(LONG a, LONG b) {
  return a > b ? static_cast<uint32_t>(a - b) : static_cast<uint32_t>(b - a);
}

// Travel is measured from the last recorded point, not from the previous message, so slow
// drift adds up.
static void CheckPointerTravel(HWND hwnd) {
  POINT now;
  if (!GetCursorPos(&now)) return;
  uint32_t travel =
      Distance(now.x, gHostState.lastCursorPos.x) + Distance(now.y, gHostState.lastCursorPos.y);
  if (travel > gHostState.mouseThreshold) {
    RequestClose(hwnd);
    gHostState.lastCursorPos = now;
  }
}

LRESULT CALLBACK BaseSaverWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (gHostState.isPreview || gHostState.closing) return DefWindowProcA(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_CLOSE:
      if (gHostState.onWin95 && !VerifyBeforeClose(hwnd)) {
        // Refused: the pointer's travel counts afresh from where it is now.
        GetCursorPos(&gHostState.lastCursorPos);
        return 0;
      }
      return DefWindowProcA(hwnd, msg, wParam, lParam);
    case MsgVerifyPassword:
      if (!gHostState.onWin95) return DefWindowProcA(hwnd, msg, wParam, lParam);
      return gHostState.verifyEntry != NULL ? gHostState.verifyEntry(hwnd) : 1;
  }
  if (gHostState.checkingPassword) return DefWindowProcA(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_SHOWWINDOW:
      if (wParam != 0) SetCursor(NULL);
      break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) RequestClose(hwnd);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      RequestClose(hwnd);
      break;
    case WM_SETCURSOR:
      SetCursor(NULL);
      return 1;
    case WM_MOUSEMOVE:
      CheckPointerTravel(hwnd);
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

BOOL VerifyBeforeClose(HWND hwnd) {
  if (gHostState.checkingPassword || gHostState.closing) return 0;
  if (gHostState.verifyEntry == NULL) {
    gHostState.closing = 1;
    return 1;
  }
  uint32_t now = GetTickCount();
  if (gHostState.lastVerifyTick != kNeverVerified &&
      ElapsedMs(gHostState.lastVerifyTick, now) < kRefusalWindowMs)
    return gHostState.closing;
  gHostState.checkingPassword = 1;
  // At most two ticks that queued up before the check are dropped; later ones keep the
  // picture moving behind the verifier.
  MSG pending;
  PeekMessageA(&pending, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
  PeekMessageA(&pending, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
  gHostState.closing = static_cast<int32_t>(SendMessageA(hwnd, MsgVerifyPassword, 0, 0));
  gHostState.checkingPassword = 0;
  if (!gHostState.closing) SetCursor(NULL);
  gHostState.lastVerifyTick = GetTickCount();
  return gHostState.closing;
}

void LoadPasswordVerifier() {
  if (!gHostState.onWin95) return;
  if (gHostState.verifierLibrary != NULL) UnloadPasswordVerifier();
  HKEY key;
  if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key) != ERROR_SUCCESS) return;
  // Text of up to four bytes reads as a non-zero number too; longer values fail the read.
  DWORD usePassword = 0;
  DWORD size = sizeof usePassword;
  if (RegQueryValueExA(key, "ScreenSaveUsePassword", NULL, NULL,
                       reinterpret_cast<BYTE *>(&usePassword), &size) == ERROR_SUCCESS &&
      usePassword != 0) {
    gHostState.verifierLibrary = LoadLibraryA("PASSWORD.CPL");
    if (gHostState.verifierLibrary != NULL) {
      gHostState.verifyEntry = reinterpret_cast<VerifyScreenSavePwdProc>(reinterpret_cast<void *>(
          GetProcAddress(gHostState.verifierLibrary, "VerifyScreenSavePwd")));
      if (gHostState.verifyEntry != NULL)
        SetSaverRunningFlag(1);
      else
        UnloadPasswordVerifier();
    }
  }
  RegCloseKey(key);
}

void UnloadPasswordVerifier() {
  if (!gHostState.onWin95 || gHostState.verifierLibrary == NULL) return;
  FreeLibrary(gHostState.verifierLibrary);
  gHostState.verifierLibrary = NULL;
  if (gHostState.verifyEntry != NULL) {
    gHostState.verifyEntry = NULL;
    SetSaverRunningFlag(0);
  }
}
