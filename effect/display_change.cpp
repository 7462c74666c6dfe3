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

// The working image out of the record, while another is made in its place.
struct WorkingImage {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previousBitmap;
  uint32_t *pixels;
};

static void TakeImage(WorkingImage *image) {
  EffectState &e = gEffectState;
  image->dc = e.imageDc;
  image->bitmap = e.imageBitmap;
  image->previousBitmap = e.imagePreviousBitmap;
  image->pixels = e.imagePixels;
  e.imageDc = NULL;
  e.imageBitmap = NULL;
  e.imagePreviousBitmap = NULL;
  e.imagePixels = NULL;
}

static void PutImage(const WorkingImage &image) {
  EffectState &e = gEffectState;
  e.imageDc = image.dc;
  e.imageBitmap = image.bitmap;
  e.imagePreviousBitmap = image.previousBitmap;
  e.imagePixels = image.pixels;
}

// A new image of screen, with the old one's pixels where the two overlap; the old image goes.
// screenSeen: whether the screen may be read where the old image did not reach.
static void RetakeImage(RECT screen, RECT old, bool screenSeen) {
  EffectState &e = gEffectState;
  WorkingImage kept;
  TakeImage(&kept);
  POINT origin = {screen.left, screen.top};
  if (!CaptureScreenArea(origin, screen.right - screen.left, screen.bottom - screen.top,
                         screenSeen)) {
    // No memory for the new size: the old image goes on, over the part it covers.
    PutImage(kept);
    return;
  }
  if (kept.dc != NULL)
    BitBlt(e.imageDc, old.left - screen.left, old.top - screen.top, e.right - e.left,
           e.bottom - e.top, kept.dc, 0, 0, SRCCOPY);
  WorkingImage made;
  TakeImage(&made);
  PutImage(kept);
  ReleaseScreenImage();
  PutImage(made);
}

static void RefitToVirtualScreen(HWND hwnd, bool screenSeen) {
  RECT screen = FullScreenRect();
  RECT old;
  GetWindowRect(hwnd, &old);
  if (screen.left == old.left && screen.top == old.top && screen.right == old.right &&
      screen.bottom == old.bottom)
    return;
  EffectState &e = gEffectState;
  bool hadImage = e.imageDc != NULL;
  RetakeImage(screen, old, screenSeen);
  if (!hadImage || e.imageDc != NULL) {
    e.left = 0;
    e.top = 0;
    e.right = screen.right - screen.left;
    e.bottom = screen.bottom - screen.top;
  }
  e.frameShown = 0;
  SetWindowPos(hwnd, HWND_TOPMOST, screen.left, screen.top, screen.right - screen.left,
               screen.bottom - screen.top, SWP_NOACTIVATE);
  // New area melts, even where the melt had come to its end and the timer stopped.
  if (!e.displayOff) StartTicking(hwnd);
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
