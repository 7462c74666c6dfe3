// On a palette display (the 256 colours of most Windows 95 machines, an 8-bit remote session of
// 2000 or XP) GDI maps every pixel blitted into a window to the window's palette, which holds
// the 20 static colours unless told otherwise: the first frame would turn the whole desktop
// into those. So the saver's window keeps the system palette as it was when the saver started,
// the colours the desktop was drawn in. A 16- or 24-bit display takes every frame as it is.
#include "effect.h"

void KeepScreenPalette() {
  EffectState &e = gEffectState;
  HDC screen = GetDC(NULL);
  if (screen == NULL) return;
  if (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) {
    struct {
      WORD version, count;
      PALETTEENTRY entries[256];
    } colours;
    colours.version = 0x300;
    colours.count = static_cast<WORD>(GetSystemPaletteEntries(screen, 0, 256, colours.entries));
    if (colours.count != 0) e.palette = CreatePalette(reinterpret_cast<LOGPALETTE *>(&colours));
  }
  ReleaseDC(NULL, screen);
  if (e.palette == NULL) return;
  // The window's own device context keeps the palette for the window's whole life.
  SelectPalette(e.dc, e.palette, FALSE);
  RealizePalette(e.dc);
}

void ReleaseScreenPalette() {
  EffectState &e = gEffectState;
  if (e.palette == NULL) return;
  SelectPalette(e.dc, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE);
  DeleteObject(e.palette);
  e.palette = NULL;
}

// Realised again when the window comes to the front, and after another window changed the
// system palette; what then maps differently is drawn again from the image.
bool OnPaletteMessage(HWND hwnd, UINT msg, WPARAM wParam) {
  EffectState &e = gEffectState;
  if (e.palette == NULL || (msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == hwnd))
    return false;
  SelectPalette(e.dc, e.palette, FALSE);
  if (RealizePalette(e.dc) != 0) InvalidateRect(hwnd, NULL, FALSE);
  return true;
}
