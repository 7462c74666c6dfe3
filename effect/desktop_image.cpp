// The desktop as the system draws it with nothing on it, for a saver that cannot see the
// user's screen: the background colour and the wallpaper, placed on every monitor as the user
// set it. The wallpaper is decoded by the system's own decoders: bitmaps by USER32, other
// pictures by GDI+ where the system has it, on a thread of its own beside the window's.
#include "../host/host.h"
#include "effect.h"
#include "wallpaper.h"

typedef HDESK(WINAPI *GetThreadDesktopProc)(DWORD threadId);
typedef BOOL(WINAPI *GetUserObjectInformationProc)(HANDLE object, int index, void *info, DWORD size,
                                                   DWORD *needed);

bool RunsOnOtherDesktop() {
  // The Windows 95 family has one desktop, and its USER32 neither of these functions.
  if (gHostState.onWin95) return false;
  HMODULE user = GetModuleHandleA("USER32.DLL");
  GetThreadDesktopProc threadDesktop = reinterpret_cast<GetThreadDesktopProc>(
      reinterpret_cast<void *>(GetProcAddress(user, "GetThreadDesktop")));
  GetUserObjectInformationProc objectInformation = reinterpret_cast<GetUserObjectInformationProc>(
      reinterpret_cast<void *>(GetProcAddress(user, "GetUserObjectInformationA")));
  if (threadDesktop == NULL || objectInformation == NULL) return false;
  HDESK desktop = threadDesktop(GetCurrentThreadId());
  if (desktop == NULL) return false;
  char name[64];
  DWORD needed = 0;
  // A name that cannot be read tells nothing: the copy of the screen is then judged by its
  // pixels alone.
  if (!objectInformation(desktop, UOI_NAME, name, sizeof name, &needed)) return false;
  name[sizeof name - 1] = 0;
  return lstrcmpiA(name, "Default") != 0;
}

bool ShowsOneColour(const uint32_t *pixels, POINT origin, int32_t width, int32_t height) {
  RECT area = {origin.x, origin.y, origin.x + width, origin.y + height};
  MonitorList parts;
  ListMonitorParts(area, &parts);
  bool seen = false;
  uint32_t first = 0;
  // Only what lies on a monitor counts: the copy leaves the gaps between monitors black.
  for (int i = 0; i < parts.count; ++i) {
    const RECT &part = parts.rects[i];
    for (int32_t y = part.top; y < part.bottom; ++y) {
      const uint32_t *row = pixels + static_cast<size_t>(y) * width;
      for (int32_t x = part.left; x < part.right; ++x) {
        uint32_t colour = row[x] & 0x00FFFFFFu;
        if (!seen) first = colour;
        seen = true;
        if (colour != first) return false;
      }
    }
  }
  return true;
}

// The background colour over the whole of a device context's rectangle.
static void FillBackground(HDC dc, int32_t width, int32_t height) {
  RECT whole = {0, 0, width, height};
  FillRect(dc, &whole, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_DESKTOP + 1)));
}

// The picture file behind a ReadAt.
static uint32_t ReadFromFile(void *source, uint32_t offset, uint8_t *buffer, uint32_t count) {
  HANDLE file = *static_cast<HANDLE *>(source);
  DWORD got = 0;
  if (SetFilePointer(file, static_cast<LONG>(offset), NULL, FILE_BEGIN) != offset ||
      !ReadFile(file, buffer, count, &got, NULL))
    return 0;
  return got;
}

static PictureHeader ReadHeaderOfFile(const char *path) {
  PictureHeader header = {PictureKind::None, 0, 0};
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return header;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  // Only a file on a disk: a device or a pipe might keep a read waiting for ever.
  if (GetFileType(file) == FILE_TYPE_DISK && size != INVALID_FILE_SIZE && high == 0)
    header = ReadPictureHeader(ReadFromFile, &file, size);
  CloseHandle(file);
  return header;
}

// GDI+'s flat interface, the few entries used here.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void *DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
typedef int(WINAPI *GdiplusStartupProc)(ULONG_PTR *token, const GdiplusStartupInput *input,
                                        void *output);
typedef void(WINAPI *GdiplusShutdownProc)(ULONG_PTR token);
typedef int(WINAPI *GdipCreateBitmapFromFileProc)(const WCHAR *file, void **bitmap);
typedef int(WINAPI *GdipGetImageSizeProc)(void *image, UINT *size);
typedef int(WINAPI *GdipCreateHBITMAPFromBitmapProc)(void *bitmap, HBITMAP *result,
                                                     DWORD background);
typedef int(WINAPI *GdipDisposeImageProc)(void *image);

enum GdiplusEntry {
  Startup,
  Shutdown,
  FromFile,
  Width,
  Height,
  ToBitmap,
  Dispose,
  kGdiplusEntries
};
static const char *const kGdiplusNames[kGdiplusEntries] = {
    "GdiplusStartup",    "GdiplusShutdown",    "GdipCreateBitmapFromFile",
    "GdipGetImageWidth", "GdipGetImageHeight", "GdipCreateHBITMAPFromBitmap",
    "GdipDisposeImage"};

template <class Proc>
static Proc As(void *entry) {
  return reinterpret_cast<Proc>(entry);
}

// GDI+ is started for this one picture and shut down again; transparent parts come out in
// the background colour.
static void DecodeWithGdiplus(const char *path, COLORREF background, Picture *picture) {
  WCHAR widePath[MAX_PATH + 1];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH + 1) == 0) return;
  HMODULE module = LoadLibraryA("gdiplus.dll");
  if (module == NULL) return;
  void *g[kGdiplusEntries];
  bool found = true;
  for (int i = 0; i < kGdiplusEntries; ++i)
    found = (g[i] = reinterpret_cast<void *>(GetProcAddress(module, kGdiplusNames[i]))) && found;
  GdiplusStartupInput input = {1, NULL, FALSE, FALSE};
  ULONG_PTR token = 0;
  if (found && As<GdiplusStartupProc>(g[Startup])(&token, &input, NULL) == 0) {
    void *image = NULL;
    if (As<GdipCreateBitmapFromFileProc>(g[FromFile])(widePath, &image) == 0 && image != NULL) {
      UINT width = 0, height = 0;
      // GDI+ may decode a picture's pixels only when they are first asked for.
      As<GdipGetImageSizeProc>(g[Width])(image, &width);
      As<GdipGetImageSizeProc>(g[Height])(image, &height);
      picture->width = static_cast<int32_t>(width);
      picture->height = static_cast<int32_t>(height);
      if (PictureSizeAllowed(picture->width, picture->height) &&
          As<GdipCreateHBITMAPFromBitmapProc>(g[ToBitmap])(
              image, &picture->bitmap, 0xFF000000u | ImageSurface::SwapRedBlue(background)) != 0)
        picture->bitmap = NULL;
      As<GdipDisposeImageProc>(g[Dispose])(image);
    }
    As<GdiplusShutdownProc>(g[Shutdown])(token);
  }
  FreeLibrary(module);
}

// Attributes of a file whose data is elsewhere until it is read: offline, or a cloud folder's
// placeholder (FILE_ATTRIBUTE_OFFLINE, _RECALL_ON_OPEN, _RECALL_ON_DATA_ACCESS).
const DWORD kDataElsewhere = 0x1000 | 0x40000 | 0x400000;

// Whether the file lies on a disk of this machine with its data at hand. A share that cannot
// be reached keeps even a question about a file's attributes waiting for the network's
// time-out, so a name on another machine (a UNC name, a network drive) is refused by the name.
static bool ReadableHere(const char *path) {
  if (path[0] == '\\' && path[1] == '\\') return false;
  // The system names the wallpaper in full: a drive letter or a UNC name.
  char root[4] = {path[0], ':', '\\', 0};
  if (GetDriveTypeA(root) == DRIVE_REMOTE) return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kDataElsewhere) == 0;
}

// The system's own local copy of the wallpaper in use: "TranscodedWallpaper.jpg" on Windows 7,
// "TranscodedWallpaper" on Windows 8 to 11, false where there is none to read here.
static bool ThemesCopyPath(char *path) {
  DWORD length = ExpandEnvironmentStringsA(
      "%APPDATA%\\Microsoft\\Windows\\Themes\\TranscodedWallpaper.jpg", path, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return false;
  if ((GetVersion() & 0xFFFF) != 0x0106) path[lstrlenA(path) - 4] = 0;
  return ReadableHere(path);
}

// The file of the user's wallpaper to read: the name the system gives (in named) or its own
// copy (in copy), each MAX_PATH + 1 characters; NULL for none, for a name that may have been
// cut to fit, and for a file that may keep a read waiting.
static const char *WallpaperFile(char *named, char *copy) {
  // Windows 2000 and later answer. The systems before show their own desktop to a saver.
  if (!SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, named, 0)) return NULL;
  named[MAX_PATH] = 0;
  int length = lstrlenA(named);
  if (length == 0 || length >= MAX_PATH - 1) return NULL;
  // The picture itself may sit on a share, in a cloud folder or on a removable disk.
  if (ThemesCopyPath(copy)) return copy;
  return ReadableHere(named) ? named : NULL;
}

// The user's wallpaper, decoded into picture, whose bitmap is NULL; it stays NULL when there
// is none or it cannot be read.
static void LoadWallpaper(COLORREF background, Picture *picture) {
  char named[MAX_PATH + 1], copy[MAX_PATH + 1];
  const char *path = WallpaperFile(named, copy);
  if (path == NULL) return;
  // The file's own header decides, before any decoder is started on it.
  PictureHeader header = ReadHeaderOfFile(path);
  if (header.kind == PictureKind::None || !PictureSizeAllowed(header.width, header.height)) return;
  picture->width = header.width;
  picture->height = header.height;
  if (header.kind == PictureKind::Bitmap)
    picture->bitmap = static_cast<HBITMAP>(
        LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  else
    DecodeWithGdiplus(path, background, picture);
}

static int32_t QueryDesktopNumber(HKEY key, const char *name) {
  uint8_t data[16];
  DWORD type = 0, size = sizeof data;
  LONG status = RegQueryValueExA(key, name, NULL, &type, data, &size);
  return WallpaperNumber(status == ERROR_SUCCESS, type, data, size);
}

static WallpaperPlacement ReadPlacement() {
  int32_t style = -1, tile = -1;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    style = QueryDesktopNumber(key, "WallpaperStyle");
    tile = QueryDesktopNumber(key, "TileWallpaper");
    RegCloseKey(key);
  }
  return PlacementFromNumbers(style, tile);
}

static void DrawPlaced(HDC dc, RECT monitor, POINT origin, WallpaperPlacement placement,
                       HDC pictureDc, const Picture &picture) {
  Box area = {monitor.left - origin.x, monitor.top - origin.y, monitor.right - origin.x,
              monitor.bottom - origin.y};
  if (placement == WallpaperPlacement::Tile) {
    // Repeated from the monitor's top-left corner. (The Windows 95 family repeats only the
    // first 8 x 8 pixels of a brush; it shows its own desktop to a saver anyway.)
    HBRUSH brush = CreatePatternBrush(picture.bitmap);
    if (brush == NULL) return;
    SetBrushOrgEx(dc, area.left, area.top, NULL);
    RECT r = {area.left, area.top, area.right, area.bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    return;
  }
  Box dest, src;
  PlacePicture(placement, area, picture.width, picture.height, &dest, &src);
  StretchBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, pictureDc,
             src.left, src.top, src.right - src.left, src.bottom - src.top, SRCCOPY);
}

// Halftone averages the pixels it shrinks; the Windows 95 family lacks it.
static void ScaleSmoothly(HDC dc) {
  SetStretchBltMode(dc, gHostState.onWin95 ? COLORONCOLOR : HALFTONE);
}

// The picture placed on every monitor that the image's area of the screen (at origin) meets.
static void DrawOnMonitors(HDC dc, POINT origin, const Picture &picture,
                           WallpaperPlacement placement) {
  HDC pictureDc = CreateCompatibleDC(NULL);
  if (pictureDc == NULL) return;
  HGDIOBJ previous = SelectObject(pictureDc, picture.bitmap);
  ScaleSmoothly(dc);
  MonitorList monitors;
  ListMonitors(&monitors);
  if (placement == WallpaperPlacement::Span) {
    monitors.rects[0] = FullScreenRect();
    monitors.count = 1;
  }
  for (int i = 0; i < monitors.count; ++i)
    DrawPlaced(dc, monitors.rects[i], origin, placement, pictureDc, picture);
  SelectObject(pictureDc, previous);
  DeleteDC(pictureDc);
}

// A preview shows the primary monitor's desktop at the preview's size.
static void DrawMiniature(HDC dc, int32_t width, int32_t height, const Picture &picture,
                          WallpaperPlacement placement) {
  int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  HDC screenDc = CreateCompatibleDC(dc);
  HBITMAP screen = CreateCompatibleBitmap(dc, screenWidth, screenHeight);
  if (screenDc != NULL && screen != NULL) {
    HGDIOBJ previous = SelectObject(screenDc, screen);
    FillBackground(screenDc, screenWidth, screenHeight);
    POINT primary = {0, 0};
    DrawOnMonitors(screenDc, primary, picture, placement);
    ScaleSmoothly(dc);
    StretchBlt(dc, 0, 0, width, height, screenDc, 0, 0, screenWidth, screenHeight, SRCCOPY);
    SelectObject(screenDc, previous);
  }
  if (screen != NULL) DeleteObject(screen);
  if (screenDc != NULL) DeleteDC(screenDc);
}

void DrawPlainDesktop(HDC imageDc, POINT origin, int32_t width, int32_t height) {
  EffectState &e = gEffectState;
  FillBackground(imageDc, width, height);
  if (__atomic_load_n(&e.decoderRunning, __ATOMIC_ACQUIRE) == 0 && e.wallpaper.bitmap != NULL) {
    e.wallpaperAwaited = 0;
    WallpaperPlacement placement = ReadPlacement();
    if (gHostState.isPreview)
      DrawMiniature(imageDc, width, height, e.wallpaper, placement);
    else
      DrawOnMonitors(imageDc, origin, e.wallpaper, placement);
  }
  GdiFlush();
}

// Everything that touches the wallpaper's file runs here, however long it takes.
static DWORD WINAPI DecodeWallpaper(void *window) {
  EffectState &e = gEffectState;
  // The last window's picture goes only now: nothing reads it while this thread runs.
  if (e.wallpaper.bitmap != NULL) DeleteObject(e.wallpaper.bitmap);
  e.wallpaper.bitmap = NULL;
  LoadWallpaper(GetSysColor(COLOR_DESKTOP), &e.wallpaper);
  __atomic_store_n(&e.decoderRunning, 0, __ATOMIC_RELEASE);
  // A window that is gone by now takes no message, and its handle names no other window.
  PostMessageA(static_cast<HWND>(window), MsgWallpaperDecoded, 0, 0);
  return 0;
}

void StartDecodingWallpaper(HWND hwnd) {
  EffectState &e = gEffectState;
  if (!e.wallpaperAwaited || e.decoderRunning) return;
  // A thread that cannot be made leaves the flag set: no picture comes, and the background
  // colour stays.
  e.decoderRunning = 1;
  DWORD id;  // the Windows 95 family fails a thread made without a place for its identifier
  HANDLE decoder = CreateThread(NULL, 0, DecodeWallpaper, hwnd, 0, &id);
  // On one processor a decoder of the window's own priority takes turns with it, and the
  // ticks counted in the first second, the melt's pace from then on, would be fewer; below it,
  // every tick and every input runs first.
  SetThreadPriority(decoder, THREAD_PRIORITY_BELOW_NORMAL);
  CloseHandle(decoder);
}

void OnWallpaperDecoded(HWND hwnd) {
  EffectState &e = gEffectState;
  if (!e.wallpaperAwaited || e.decoderRunning || e.image.dc == NULL) return;
  e.wallpaperAwaited = 0;
  // The image is the plain desktop as a whole, one flat colour until now, melted or not: it is
  // drawn again, with the picture, and shown with the next frame.
  POINT origin = {e.image.area.left, e.image.area.top};
  DrawPlainDesktop(e.image.dc, origin, e.image.area.right - e.image.area.left,
                   e.image.area.bottom - e.image.area.top);
  e.frameShown = 0;
  TickForNewPicture(hwnd);
}
