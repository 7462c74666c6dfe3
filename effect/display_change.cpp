// The full-screen saver follows the displays: a monitor added, removed or given another size
// changes the virtual screen, and the window and its working image take the new one. A point
// that lies in both the old and the new virtual screen keeps its melt, so a monitor that stays
// keeps its picture even when the origin moves.
#include "../host/host.h"
#include "effect.h"

// Changes come in bursts (a dock brings several monitors, a resolution change is a mode
// change per monitor), and the desktop paints an added area only some 300 ms after the
// message. One re-fit that long after the last change of a burst reads that area as the
// desktop, where a re-fit at once would melt a black strip.
const UINT kRefitDelayMs = 500;

// A new image of screen, with the old one's pixels where the two overlap; the old image goes.
// screenSeen: whether the screen may be read where the old image did not reach. False when
// there is no memory for the new size: the old image, if any, goes on over the part it covers.
static bool RetakeImage(RECT screen, bool screenSeen) {
  EffectState &e = gEffectState;
  WorkingImage kept = e.image;
  POINT origin = {screen.left, screen.top};
  if (!CaptureScreenArea(origin, screen.right - screen.left, screen.bottom - screen.top,
                         screenSeen))
    return false;
  const RECT &old = kept.area;
  if (kept.dc != NULL)
    BitBlt(e.image.dc, old.left - screen.left, old.top - screen.top, old.right - old.left,
           old.bottom - old.top, kept.dc, 0, 0, SRCCOPY);
  ReleaseImage(&kept);
  return true;
}

static void RefitToVirtualScreen(HWND hwnd, bool screenSeen) {
  EffectState &e = gEffectState;
  RECT screen = FullScreenRect();
  if (e.image.dc == NULL || !EqualRect(&screen, &e.image.area)) {
    // The bounds are the image's; only without any image are they the window's own pixels.
    if (RetakeImage(screen, screenSeen) || e.image.dc == NULL) {
      e.right = screen.right - screen.left;
      e.bottom = screen.bottom - screen.top;
    }
    // A kept image is shown where it lies on the screen, wherever the window now starts.
    e.imageOffset.x = e.image.area.left - screen.left;
    e.imageOffset.y = e.image.area.top - screen.top;
    e.frameShown = 0;
    TickForNewPicture(hwnd);
  }
  SetWindowPos(hwnd, HWND_TOPMOST, screen.left, screen.top, screen.right - screen.left,
               screen.bottom - screen.top, SWP_NOACTIVATE);
}

void OnDisplayChange(HWND hwnd) {
  // A preview's parent decides its size.
  if (gHostState.isPreview) return;
  // A saver that guards the machine with its password covers a new monitor at once; the screen
  // under it then cannot be seen, and the plain desktop stands in for it there.
  if (gHostState.verifyEntry != NULL) {
    RefitToVirtualScreen(hwnd, false);
    return;
  }
  // Each change of a burst puts the re-fit off again.
  SetTimer(hwnd, kRefitTimerId, kRefitDelayMs, NULL);
}

void OnRefitTimer(HWND hwnd) {
  KillTimer(hwnd, kRefitTimerId);
  RefitToVirtualScreen(hwnd, true);
}
