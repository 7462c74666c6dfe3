// The effect's window procedure: the working image, and the smearing steps from a timer.
#include "../host/host.h"
#include "effect.h"
#include "wallpaper.h"

uint32_t TickCount() {
  return GetTickCount();
}

const DWORD kCaptureBlt = 0x40000000;  // CAPTUREBLT, Windows 2000 on

// Copies the screen's rectangle at origin into the image, monitor by monitor: parts of the
// virtual screen that lie on no monitor read black, like everything outside the screen.
static BOOL CopyScreenArea(HDC imageDc, POINT origin, int32_t width, int32_t height) {
  RECT whole = {0, 0, width, height};
  FillRect(imageDc, &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  RECT area = {origin.x, origin.y, origin.x + width, origin.y + height};
  MonitorList parts;
  ListMonitorParts(area, &parts);
  HDC screen = GetDC(NULL);
  if (screen == NULL) return FALSE;
  // Windows 2000 and later leave translucent (layered) windows, tooltips and skinned players
  // among them, out of a copy of the screen unless it asks for them; older systems know no
  // such windows, and might not take the flag.
  DWORD operation = LOBYTE(GetVersion()) >= 5 ? SRCCOPY | kCaptureBlt : SRCCOPY;
  BOOL copied = TRUE;
  for (int i = 0; i < parts.count; ++i) {
    const RECT &part = parts.rects[i];
    copied = copied &&
             BitBlt(imageDc, part.left, part.top, part.right - part.left, part.bottom - part.top,
                    screen, origin.x + part.left, origin.y + part.top, operation);
  }
  ReleaseDC(NULL, screen);
  return copied;
}

bool CaptureScreenArea(POINT origin, int32_t width, int32_t height, bool screenSeen) {
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows, as ImageSurface reads them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = NULL;
  HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  if (bitmap == NULL || bits == NULL) {
    if (bitmap != NULL) DeleteObject(bitmap);
    return false;
  }
  HDC imageDc = CreateCompatibleDC(NULL);
  if (imageDc == NULL) {
    DeleteObject(bitmap);
    return false;
  }
  HGDIOBJ previous = SelectObject(imageDc, bitmap);
  // Where the user's screen cannot be seen (a secure saver's own desktop, a copy refused, a
  // copy of one flat colour), the saver works on the desktop as the system draws it.
  uint32_t *pixels = static_cast<uint32_t *>(bits);
  bool copied =
      screenSeen && !RunsOnOtherDesktop() && CopyScreenArea(imageDc, origin, width, height);
  GdiFlush();
  if (!copied || ShowsOneColour(pixels, origin, width, height))
    DrawPlainDesktop(imageDc, origin, width, height);
  else
    gEffectState.wallpaperAwaited = 0;
  WorkingImage made = {
      imageDc, bitmap, previous, pixels, {origin.x, origin.y, origin.x + width, origin.y + height}};
  gEffectState.image = made;
  return true;
}

bool CaptureScreenImage(HWND hwnd, int32_t width, int32_t height) {
  // The window is not shown yet, so the screen still holds what lies beneath it: the
  // desktop for the full-screen saver, the parent's picture for a preview.
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  return CaptureScreenArea(origin, width, height, true);
}

void ReleaseImage(WorkingImage *image) {
  if (image->dc == NULL) return;
  SelectObject(image->dc, image->previousBitmap);
  DeleteDC(image->dc);
  DeleteObject(image->bitmap);
  ZeroMemory(image, sizeof *image);
}

// The step writes only the working image; the window is brought up to date from it as a whole,
// one blit a frame in place of a call for each of up to 5000 pixels a tick.
static uint32_t SmearWorkingImage() {
  EffectState &e = gEffectState;
  ImageSurface surface = {e.image.pixels, e.right - e.left, e.bottom - e.top};
  return SmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
}

// Without a working image the window's own pixels are read and written one by one.
static void SmearWindowPixels() {
  EffectState &e = gEffectState;
  DeviceSurface surface = {e.dc};
  SmearStep(surface, e.left, e.top, e.right, e.bottom, TickCount);
}

uint32_t RunEffectStep() {
  if (gEffectState.image.pixels != NULL) return SmearWorkingImage();
  // The window's pixels read back through the display's colours, which need not hold the
  // written one exactly: such a step counts as changing the picture.
  SmearWindowPixels();
  return 1;
}

static void OnTimer(HWND hwnd, WPARAM timer) {
  if (timer == kRefitTimerId)
    OnRefitTimer(hwnd);
  else if (!gEffectState.displayOff)
    OnStepTimer(hwnd);
}

static void PaintFromImage(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  if (dc != NULL) {
    const RECT &r = paint.rcPaint;
    const POINT &offset = gEffectState.imageOffset;
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, gEffectState.image.dc,
           r.left - offset.x, r.top - offset.y, SRCCOPY);
  }
  EndPaint(hwnd, &paint);
}

const UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 on

LRESULT CALLBACK EffectWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      gEffectState.dc = GetDC(hwnd);
      LoadSettings();
      RECT client;
      GetClientRect(hwnd, &client);
      gEffectState.left = client.left;
      gEffectState.top = client.top;
      gEffectState.right = client.right;
      gEffectState.bottom = client.bottom;
      KeepScreenPalette();
      gEffectState.wallpaperAwaited = 1;
      CaptureScreenImage(hwnd, client.right - client.left, client.bottom - client.top);
      StartDecodingWallpaper(hwnd);
      gEffectState.frameShown = 0;
      gEffectState.frameCostUs = 0;
      StartTicking(hwnd);
      WatchDisplayPower(hwnd);
      break;
    }
    case WM_DESTROY:
      StopWatchingDisplayPower();
      StopTicking(hwnd);
      KillTimer(hwnd, kRefitTimerId);
      ReleaseImage(&gEffectState.image);
      ReleaseScreenPalette();
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      if (gEffectState.image.dc == NULL) break;
      PaintFromImage(hwnd);
      return 0;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
      if (OnPaletteMessage(hwnd, msg, wParam)) return 1;
      break;
    case WM_TIMER:
      OnTimer(hwnd, wParam);
      break;
    case WM_POWERBROADCAST:
      OnPowerBroadcast(hwnd, wParam, lParam);
      break;
    case WM_SYSCOMMAND:
      OnSystemCommand(hwnd, wParam, lParam);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      OnInputWhileDisplayOff(hwnd, msg);
      break;
    case WM_DISPLAYCHANGE:
      OnDisplayChange(hwnd);
      break;
    case WM_SETTINGCHANGE:
      // Windows 7 tells of an added monitor only by the work area it brings.
      if (wParam == SPI_SETWORKAREA) OnDisplayChange(hwnd);
      break;
    case MsgWallpaperDecoded:
      OnWallpaperDecoded(hwnd);
      return 0;
    case kDpiChanged:
      // The rectangle suggested for the new scaling is not taken: the virtual screen is.
      OnDisplayChange(hwnd);
      return 0;
  }
  return BaseSaverWindowProc(hwnd, msg, wParam, lParam);
}
