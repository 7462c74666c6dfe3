// The screen the full-screen saver covers, and the monitors inside it.
#include "host.h"

RECT FullScreenRect() {
  // The virtual screen spans every monitor, and its origin lies left of or above the primary's
  // where a monitor stands there. Systems that know one monitor only (Windows 95, NT 4.0)
  // answer 0 for it, and the primary screen is all there is.
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) return screen;
  screen.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  screen.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  screen.right = screen.left + width;
  screen.bottom = screen.top + height;
  return screen;
}

typedef BOOL(WINAPI *EnumDisplayMonitorsProc)(HDC dc, LPCRECT clip, MONITORENUMPROC callback,
                                              LPARAM data);

static BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT bounds, LPARAM data) {
  MonitorList *list = reinterpret_cast<MonitorList *>(data);
  if (list->count < kMaxMonitors) list->rects[list->count++] = *bounds;
  return TRUE;
}

void ListMonitors(MonitorList *list) {
  list->count = 0;
  // Windows 98 and 2000 brought several monitors; USER32 is always loaded.
  EnumDisplayMonitorsProc enumerate =
      reinterpret_cast<EnumDisplayMonitorsProc>(reinterpret_cast<void *>(
          GetProcAddress(GetModuleHandleA("USER32.DLL"), "EnumDisplayMonitors")));
  if (enumerate != NULL) enumerate(NULL, NULL, AddMonitor, reinterpret_cast<LPARAM>(list));
  if (list->count > 0) return;
  RECT primary = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  list->rects[0] = primary;
  list->count = 1;
}

void ListMonitorParts(RECT area, MonitorList *parts) {
  MonitorList monitors;
  ListMonitors(&monitors);
  parts->count = 0;
  for (int i = 0; i < monitors.count; ++i) {
    RECT &part = parts->rects[parts->count];
    if (!IntersectRect(&part, &area, &monitors.rects[i])) continue;
    part.left -= area.left;
    part.right -= area.left;
    part.top -= area.top;
    part.bottom -= area.top;
    ++parts->count;
  }
}
