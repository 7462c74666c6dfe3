// The display's power: while it is off the saver does no work at all, and when it comes back
// the melt goes on from the picture it had. The saver only listens: it never keeps a display
// on, and every power command still reaches the system as it came.
#include "../host/host.h"
#include "effect.h"

typedef HANDLE(WINAPI *RegisterPowerSettingNotificationProc)(HANDLE recipient, const GUID *setting,
                                                             DWORD flags);
typedef BOOL(WINAPI *UnregisterPowerSettingNotificationProc)(HANDLE notification);

// The console display's state from Windows 8 on (0 off, 1 on, 2 dimmed), the monitor's power
// as Vista and 7 report it (0 off, 1 on), and the display of this session (Windows 8 on, the
// same values). On the machine's own console all three say the same thing. A remote session
// has a display of its own, and there only the third tells of it: the machine's own monitor
// may sleep while the session is watched.
const int kSessionDisplay = 2;
static const GUID kDisplayPowerSettings[kPowerSettings] = {
    {0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}},
    {0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}},
    {0x2B84C20E, 0xAD23, 0x4DDF, {0x93, 0xDB, 0x05, 0xFF, 0xBD, 0x7E, 0xFC, 0xA5}},
};
const int kRemoteSession = 0x1000;  // SM_REMOTESESSION

// The system's headers give these only to programs for Vista and later.
const WPARAM kPowerSettingChange = 0x8013;  // PBT_POWERSETTINGCHANGE
const DWORD kNotifyWindowHandle = 0;        // DEVICE_NOTIFY_WINDOW_HANDLE
const LPARAM kMonitorOff = 2;               // SC_MONITORPOWER's lParam; 1 low power, -1 on
struct PowerSettingChange {                 // POWERBROADCAST_SETTING
  GUID setting;
  DWORD dataLength;
  UCHAR data[1];
};

FARPROC UserEntry(const char *name) {
  return GetProcAddress(GetModuleHandleA("USER32.DLL"), name);
}

void WatchDisplayPower(HWND hwnd) {
  RegisterPowerSettingNotificationProc watch =
      reinterpret_cast<RegisterPowerSettingNotificationProc>(
          reinterpret_cast<void *>(UserEntry("RegisterPowerSettingNotification")));
  if (watch == NULL) return;
  for (int i = 0; i < kPowerSettings; ++i)
    gEffectState.powerNotifications[i] =
        watch(hwnd, &kDisplayPowerSettings[i], kNotifyWindowHandle);
}

void StopWatchingDisplayPower() {
  UnregisterPowerSettingNotificationProc forget =
      reinterpret_cast<UnregisterPowerSettingNotificationProc>(
          reinterpret_cast<void *>(UserEntry("UnregisterPowerSettingNotification")));
  for (int i = 0; i < kPowerSettings; ++i) {
    HANDLE &notification = gEffectState.powerNotifications[i];
    if (notification != NULL && forget != NULL) forget(notification);
    notification = NULL;
  }
}

static void SetDisplayOn(HWND hwnd, bool on) {
  EffectState &e = gEffectState;
  if (on == !e.displayOff) return;
  if (!on) {
    // Without the timer the thread sleeps in its message loop until something comes.
    StopTicking(hwnd);
    GetCursorPos(&e.pointerAtDisplayOff);
    e.displayOff = 1;
    return;
  }
  e.displayOff = 0;
  // The picture it had goes back on the screen with the first tick.
  e.frameShown = 0;
  StartTicking(hwnd);
}

static bool SameGuid(const GUID &a, const GUID &b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

// Waking from a suspension lights the displays. Before Vista nothing else but input says so,
// and a machine woken by a timer, with nobody at it, would show the melt standing still until
// the displays go off again. Where the system reports the display's state, that report decides.
static bool LightsTheDisplays(WPARAM event) {
  return event == PBT_APMRESUMECRITICAL || event == PBT_APMRESUMESUSPEND ||
         event == PBT_APMRESUMESTANDBY || event == PBT_APMRESUMEAUTOMATIC;
}

static bool ReportsDisplayState() {
  for (int i = 0; i < kPowerSettings; ++i)
    if (gEffectState.powerNotifications[i] != NULL) return true;
  return false;
}

// Whether a power setting tells of the display this session shows on.
static bool TellsOfThisDisplay(const GUID &setting) {
  int first = GetSystemMetrics(kRemoteSession) ? kSessionDisplay : 0;
  for (int i = first; i < kPowerSettings; ++i)
    if (SameGuid(setting, kDisplayPowerSettings[i])) return true;
  return false;
}

void OnPowerBroadcast(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  if (LightsTheDisplays(wParam) && !ReportsDisplayState()) SetDisplayOn(hwnd, true);
  if (wParam != kPowerSettingChange || lParam == 0) return;
  const PowerSettingChange *change = reinterpret_cast<const PowerSettingChange *>(lParam);
  if (change->dataLength < sizeof(DWORD) || !TellsOfThisDisplay(change->setting)) return;
  const UCHAR *d = change->data;
  DWORD state = d[0] | d[1] << 8 | d[2] << 16 | static_cast<DWORD>(d[3]) << 24;
  // Dimmed is still lit: the melt goes on.
  SetDisplayOn(hwnd, state != 0);
}

// Windows sends this when it powers displays down (Windows 10 itself; before Vista it is the
// only word of it). Before Vista nothing says when they come back but input and a wake from a
// suspension.
void OnSystemCommand(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) != SC_MONITORPOWER) return;
  SetDisplayOn(hwnd, lParam != kMonitorOff);
}

// Any input lights the display again, so it is the one sign of that which every system gives.
// A pointer that has not moved sends no light: the system repeats its last position after
// window changes.
void OnInputWhileDisplayOff(HWND hwnd, UINT msg) {
  if (!gEffectState.displayOff) return;
  if (msg == WM_MOUSEMOVE) {
    POINT now;
    const POINT &then = gEffectState.pointerAtDisplayOff;
    if (!GetCursorPos(&now) || (now.x == then.x && now.y == then.y)) return;
  }
  SetDisplayOn(hwnd, true);
}
