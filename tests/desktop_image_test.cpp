// What the saver works on where it cannot see the user's screen: the desktop as the system
// draws it, with the user's wallpaper in each placement. Real saver windows in this process on
// the test display, over a blank screen, a screen of one colour, a picture; copies of the screen
// that fail; another desktop; and wallpapers that are no pictures at all.
//   desktop_image_test WALLPAPER-FOLDER [gtest flags]
// The folder holds what tests/make_wallpapers.sh writes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "effect/effect.h"
#include "effect/wallpaper.h"
#include "host/host.h"
#include "blank_screen.h"
#include "saver_run.h"
#include "saver_state.h"
#include "win_test_support.h"

namespace {

std::string gFolder;  // Windows path of the wallpapers, ending in a backslash
std::string gUnixFolder;

const char kSaverClass[] = "VandrelDesktopImageSaver";
const char kDesktopKey[] = "Control Panel\\Desktop";

// The grid of tests/make_wallpapers.sh: 4 x 3 cells of 120 pixels.
const int kGridW = 480, kGridH = 360, kCell = 120;
COLORREF gCells[3][4];

// The cell colours as ImageMagick wrote them into grid.bmp, read here without any decoder of
// the system's.
bool ReadGridColours() {
  std::ifstream in(gUnixFolder + "grid.bmp", std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  if (b.size() < 54 || b[0] != 'B' || b[28] != 24) return false;
  auto u32 = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; };
  size_t bits = u32(10), stride = (kGridW * 3 + 3) & ~3u;
  if (u32(18) != static_cast<uint32_t>(kGridW) || u32(22) != static_cast<uint32_t>(kGridH))
    return false;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      int x = col * kCell + kCell / 2, y = row * kCell + kCell / 2;
      const unsigned char *p = &b[bits + (kGridH - 1 - y) * stride + x * 3];
      gCells[row][col] = RGB(p[2], p[1], p[0]);
    }
  return true;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) >
        tolerance)
      return false;
  return true;
}

// Pixels of the screen, or of the saver's image, by screen coordinates.
typedef std::function<COLORREF(int x, int y)> PixelsAt;

typedef wintest::ScreenPixels Shot;

Shot TakeShot() {
  return wintest::ReadScreen(FullScreenRect());
}

PixelsAt ShotPixels(const Shot &shot) {
  return [&shot](int x, int y) { return shot.At(x, y); };
}

// The saver's working image as it is now, by screen coordinates of its full-screen window.
PixelsAt ImagePixels() {
  RECT r = FullScreenRect();
  return [r](int x, int y) {
    ImageSurface image = {gEffectState.image.pixels, r.right - r.left, r.bottom - r.top};
    return image.Read(x - r.left, y - r.top);
  };
}

std::vector<RECT> Monitors() {
  MonitorList list;
  ListMonitors(&list);
  return std::vector<RECT>(list.rects, list.rects + list.count);
}

// Where the grid lands on one monitor (or, spanned, on the whole screen): screen pixel (x, y)
// shows grid pixel ((x - offsetX) / scaleX, (y - offsetY) / scaleY), or repeats every grid.
struct Layout {
  double scaleX, scaleY, offsetX, offsetY;
  bool tiled;
};

Layout LayoutOn(WallpaperPlacement p, const RECT &m) {
  double w = m.right - m.left, h = m.bottom - m.top;
  double sx = w / kGridW, sy = h / kGridH;
  double s = 1;
  switch (p) {
    case WallpaperPlacement::Stretch:
      return {sx, sy, static_cast<double>(m.left), static_cast<double>(m.top), false};
    case WallpaperPlacement::Tile:
      return {1, 1, static_cast<double>(m.left), static_cast<double>(m.top), true};
    case WallpaperPlacement::Centre:
      s = 1;
      break;
    case WallpaperPlacement::Fit:
      s = std::min(sx, sy);
      break;
    case WallpaperPlacement::Fill:
    case WallpaperPlacement::Span:
      s = std::max(sx, sy);
      break;
  }
  return {s, s, m.left + std::floor((w - kGridW * s) / 2), m.top + std::floor((h - kGridH * s) / 2),
          false};
}

struct Verdict {
  int checked = 0, wrong = 0, background = 0, grid = 0;
  std::string firstWrong;
};

// Compares the pixels with the desktop of the given placement at points of a lattice, leaving
// out those within 6 pixels of an edge between colours, where scaling blends them.
Verdict Compare(const PixelsAt &pixels, WallpaperPlacement p, int tolerance) {
  Verdict v;
  COLORREF background = GetSysColor(COLOR_DESKTOP);
  RECT whole = FullScreenRect();
  for (const RECT &m : Monitors()) {
    Layout l = LayoutOn(p, p == WallpaperPlacement::Span ? whole : m);
    for (int y = m.top + 3; y < m.bottom; y += 17)
      for (int x = m.left + 5; x < m.right; x += 19) {
        double gx = (x - l.offsetX) / l.scaleX, gy = (y - l.offsetY) / l.scaleY;
        if (l.tiled) {
          gx = std::fmod(gx, kGridW);
          gy = std::fmod(gy, kGridH);
        }
        bool inside = gx >= 0 && gx < kGridW && gy >= 0 && gy < kGridH;
        // Distance to the nearest edge, in screen pixels.
        double ex = std::fmod(gx + kGridW, kCell), ey = std::fmod(gy + kGridH, kCell);
        ex = std::min(ex, kCell - ex) * l.scaleX;
        ey = std::min(ey, kCell - ey) * l.scaleY;
        if (ex < 6 || ey < 6) continue;
        COLORREF want = inside ? gCells[static_cast<int>(gy) / kCell][static_cast<int>(gx) / kCell]
                               : background;
        COLORREF got = pixels(x, y);
        ++v.checked;
        ++(inside ? v.grid : v.background);
        if (!Near(got, want, tolerance)) {
          if (v.wrong++ == 0) {
            char text[120];
            std::snprintf(text, sizeof text, "at %d,%d %06lx instead of %06lx", x, y, got, want);
            v.firstWrong = text;
          }
        }
      }
  }
  return v;
}

// Every pixel on every monitor in one colour.
int PixelsOtherThan(const PixelsAt &pixels, COLORREF colour, int tolerance) {
  int wrong = 0;
  for (const RECT &m : Monitors())
    for (int y = m.top; y < m.bottom; y += 7)
      for (int x = m.left; x < m.right; x += 7) wrong += !Near(pixels(x, y), colour, tolerance);
  return wrong;
}

// The user's desktop settings, kept for the end of the run.
struct DesktopSettings {
  char wallpaper[MAX_PATH + 1] = {};
  std::string style, tile;
  bool hasStyle = false, hasTile = false;
};
DesktopSettings gSaved;

bool ReadString(const char *name, std::string *value) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  char text[64] = {};
  DWORD size = sizeof text - 1, type = 0;
  bool ok = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(text), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ;
  RegCloseKey(key);
  *value = text;
  return ok;
}

void SetValue(const char *name, DWORD type, const void *data, DWORD size) {
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
      ERROR_SUCCESS);
  if (data == nullptr)
    RegDeleteValueA(key, name);
  else
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetString(const char *name, const char *text) {
  SetValue(name, REG_SZ, text, text ? static_cast<DWORD>(lstrlenA(text) + 1) : 0);
}

// The system's own setting, so that it answers the saver's question at once.
void SetWallpaperPath(const std::string &path) {
  ASSERT_TRUE(SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, const_cast<char *>(path.c_str()),
                                    SPIF_UPDATEINIFILE));
}

const char *StyleOf(WallpaperPlacement p) {
  switch (p) {
    case WallpaperPlacement::Stretch:
      return "2";
    case WallpaperPlacement::Fit:
      return "6";
    case WallpaperPlacement::Fill:
      return "10";
    case WallpaperPlacement::Span:
      return "22";
    default:
      return "0";
  }
}

const char *NameOf(WallpaperPlacement p) {
  const char *names[] = {"centre", "tile", "stretch", "fit", "fill", "span"};
  return names[static_cast<int>(p)];
}

void SetWallpaper(const std::string &file, WallpaperPlacement p) {
  SetWallpaperPath(file.empty() ? file : gFolder + file);
  SetString("WallpaperStyle", StyleOf(p));
  SetString("TileWallpaper", p == WallpaperPlacement::Tile ? "1" : "0");
}

// A baseline JPEG of mid-grey of any size, written by hand: every 8 x 8 block is "no change,
// end of block", two bits. 20000 x 20000 takes 1.5 MB.
void WriteGreyJpeg(const std::string &path, int width, int height) {
  std::ofstream out(path, std::ios::binary);
  auto bytes = [&](std::initializer_list<int> list) {
    for (int b : list) out.put(static_cast<char>(b));
  };
  bytes({0xFF, 0xD8});
  bytes({0xFF, 0xDB, 0, 67, 0});
  for (int i = 0; i < 64; ++i) out.put(1);
  bytes(
      {0xFF, 0xC0, 0, 11, 8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 1, 1, 0x11, 0});
  // One code each: a DC difference of category 0 and an end of block, both the code "0".
  for (int table : {0x00, 0x10}) {
    bytes({0xFF, 0xC4, 0, 20, table, 1});
    for (int i = 1; i < 16; ++i) out.put(0);
    out.put(0);
  }
  bytes({0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0});
  long long blocks = static_cast<long long>((width + 7) / 8) * ((height + 7) / 8);
  std::string zeros(static_cast<size_t>((blocks * 2 + 7) / 8), '\0');
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  bytes({0xFF, 0xD9});
}

// Stand-ins for the ways a copy of the screen fails.
typedef BOOL(WINAPI *BitBltProc)(HDC, int, int, int, int, HDC, int, int, DWORD);
typedef HDC(WINAPI *GetDCProc)(HWND);
typedef HMODULE(WINAPI *LoadLibraryProc)(LPCSTR);
BitBltProc gRealBitBlt;
GetDCProc gRealGetDC;
LoadLibraryProc gRealLoadLibrary;
bool gScreenRefused, gScreenMissing, gGdiplusMissing;

BOOL WINAPI RefusingBitBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy,
                           DWORD rop) {
  // Copies from a memory image go through. One from the screen is refused after half of it
  // was made: a copy that reports failure is not to be trusted, whatever it left behind.
  if (gScreenRefused && src != NULL && GetObjectType(src) == OBJ_DC) {
    gRealBitBlt(dest, x, y, w / 2, h, src, sx, sy, rop);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return gRealBitBlt(dest, x, y, w, h, src, sx, sy, rop);
}

HDC WINAPI MissingScreenGetDC(HWND hwnd) {
  if (gScreenMissing && hwnd == NULL) return NULL;
  return gRealGetDC(hwnd);
}

HMODULE WINAPI WithoutGdiplus(LPCSTR name) {
  if (gGdiplusMissing && name != NULL && lstrcmpiA(name, "gdiplus.dll") == 0) return NULL;
  return gRealLoadLibrary(name);
}

// Every time a decoder is started on a file: USER32's bitmap loader or GDI+.
int gDecoderRuns;
typedef HANDLE(WINAPI *LoadImageProc)(HINSTANCE, LPCSTR, UINT, int, int, UINT);
typedef FARPROC(WINAPI *GetProcAddressProc)(HMODULE, LPCSTR);
typedef int(WINAPI *FromFileProc)(const WCHAR *, void **);
LoadImageProc gRealLoadImage;
GetProcAddressProc gRealGetProcAddress;
FromFileProc gRealFromFile;

HANDLE WINAPI CountingLoadImage(HINSTANCE instance, LPCSTR name, UINT type, int w, int h,
                                UINT flags) {
  if (flags & LR_LOADFROMFILE) ++gDecoderRuns;
  return gRealLoadImage(instance, name, type, w, h, flags);
}

int WINAPI CountingFromFile(const WCHAR *file, void **bitmap) {
  ++gDecoderRuns;
  return gRealFromFile(file, bitmap);
}

FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC real = gRealGetProcAddress(module, name);
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0 ||
      lstrcmpA(name, "GdipCreateBitmapFromFile") != 0 || real == NULL)
    return real;
  gRealFromFile = reinterpret_cast<FromFileProc>(reinterpret_cast<void *>(real));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(CountingFromFile));
}

COLORREF gPictureColour;
// A window of one colour, or with gPictureColour 0, a picture of coloured stripes.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(hwnd, &r);
    HDC dc = reinterpret_cast<HDC>(wParam);
    for (int i = 0; i < 8; ++i) {
      RECT band = {r.right * i / 8, 0, r.right * (i + 1) / 8, r.bottom};
      HBRUSH brush = CreateSolidBrush(gPictureColour != 0 ? gPictureColour
                                                          : RGB(30 * i, 200 - 20 * i, 90 + 15 * i));
      FillRect(dc, &band, brush);
      DeleteObject(brush);
    }
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

COLORREF StripeColour(int x) {
  RECT whole = FullScreenRect();
  int i = (x - whole.left) * 8 / (whole.right - whole.left);
  return RGB(30 * i, 200 - 20 * i, 90 + 15 * i);
}

// The decoding thread has ended and this thread has taken its message, and at least ms have
// passed. No tick runs meanwhile: the image is as it was made, edges not yet melted towards the
// black outside.
bool WaitForWallpaper(DWORD ms = 0) {
  DWORD start = GetTickCount();
  MSG m;
  while ((gEffectState.wallpaperAwaited || GetTickCount() - start < ms) &&
         GetTickCount() - start < 20000)
    if (PeekMessageA(&m, NULL, 0, WM_TIMER - 1, PM_REMOVE) ||
        PeekMessageA(&m, NULL, WM_TIMER + 1, 0xFFFFFFFF, PM_REMOVE))
      DispatchMessageA(&m);
    else
      Sleep(5);
  return !gEffectState.wallpaperAwaited;
}

class DesktopImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSA c = {};
    c.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = HostWindowProc;
    c.hInstance = GetModuleHandleA(NULL);
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    c.lpszClassName = kSaverClass;
    RegisterClassA(&c);
    c.style = 0;
    c.lpfnWndProc = PictureProc;
    c.lpszClassName = "VandrelDesktopImagePicture";
    RegisterClassA(&c);
    c.lpfnWndProc = DefWindowProcA;
    c.lpszClassName = "VandrelDesktopImageParent";
    RegisterClassA(&c);
    SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, gSaved.wallpaper, 0);
    gSaved.hasStyle = ReadString("WallpaperStyle", &gSaved.style);
    gSaved.hasTile = ReadString("TileWallpaper", &gSaved.tile);
  }
  static void TearDownTestSuite() {
    SetWallpaperPath(gSaved.wallpaper);
    SetString("WallpaperStyle", gSaved.hasStyle ? gSaved.style.c_str() : nullptr);
    SetString("TileWallpaper", gSaved.hasTile ? gSaved.tile.c_str() : nullptr);
  }

  void SetUp() override {
    ASSERT_TRUE(ReadGridColours()) << "no grid.bmp in " << gUnixFolder;
    wintest::ResetSaverState();
    SetCursorPos(500, 400);
    wintest::Pump(20);
  }

  void TearDown() override {
    for (HWND w : windows_)
      if (IsWindow(w)) DestroyWindow(w);
    windows_.clear();
    wintest::Pump(50);
  }

  // The screen with nothing on it, one colour.
  void ExpectBlankScreen() {
    windows_.push_back(wintest::BlankTheScreen());
    Shot s = TakeShot();
    blankColour_ = s.At(s.area.left, s.area.top);
    ASSERT_EQ(PixelsOtherThan(ShotPixels(s), blankColour_, 0), 0)
        << "the test display is not blank";
    blank_ = true;
  }

  bool ScreenIsBlank() {
    Shot s = TakeShot();
    return PixelsOtherThan(ShotPixels(s), blankColour_, 0) == 0;
  }

  HWND ShowPicture(COLORREF colour) {
    gPictureColour = colour;
    RECT r = FullScreenRect();
    HWND w = CreateWindowExA(0, "VandrelDesktopImagePicture", "picture", WS_POPUP | WS_VISIBLE,
                             r.left, r.top, r.right - r.left, r.bottom - r.top, NULL, NULL,
                             GetModuleHandleA(NULL), NULL);
    windows_.push_back(w);
    UpdateWindow(w);
    wintest::Pump(150);
    return w;
  }

  // A full-screen saver window, once its wallpaper has come; shown, it paints that frame
  // before this returns.
  HWND MakeSaver(bool visible) {
    wintest::ResetSaverState();
    RECT r = FullScreenRect();
    DWORD start = GetTickCount();
    HWND hwnd = CreateWindowExA(
        WS_EX_TOPMOST, kSaverClass, "Screen Saver", WS_POPUP | (visible ? WS_VISIBLE : 0), r.left,
        r.top, r.right - r.left, r.bottom - r.top, NULL, NULL, GetModuleHandleA(NULL), NULL);
    createMs_ = GetTickCount() - start;
    EXPECT_NE(hwnd, nullptr);
    windows_.push_back(hwnd);
    EXPECT_TRUE(WaitForWallpaper());
    if (visible) RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    if (visible) WaitForWallpaper(100);  // the first window of a process reaches the screen late
    return hwnd;
  }

  // The first image of a hidden saver, then the saver closed by a key.
  Verdict ImageOfSaver(WallpaperPlacement p, int tolerance) {
    HWND hwnd = MakeSaver(false);
    Verdict v;
    if (gEffectState.image.pixels != nullptr) v = Compare(ImagePixels(), p, tolerance);
    CloseByKey(hwnd);
    return v;
  }

  void CloseByKey(HWND hwnd) {
    PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(wintest::PumpUntil([&] { return !IsWindow(hwnd); }, 5000)) << "did not close";
    // The next saver must not copy this one's last frame from a screen not yet repainted.
    if (blank_) {
      EXPECT_TRUE(wintest::PumpUntil([&] { return ScreenIsBlank(); }, 5000))
          << "the screen kept the closed saver's picture";
    }
  }

  std::vector<HWND> windows_;
  DWORD createMs_ = 0;
  bool blank_ = false;
  COLORREF blankColour_ = 0;
};

void ExpectShows(const Verdict &v, const std::string &what) {
  EXPECT_GT(v.checked, 2000) << what;
  EXPECT_EQ(v.wrong, 0) << what << ": " << v.wrong << " of " << v.checked << " wrong, first "
                        << v.firstWrong;
}

const WallpaperPlacement kPlacements[] = {WallpaperPlacement::Centre,  WallpaperPlacement::Tile,
                                          WallpaperPlacement::Stretch, WallpaperPlacement::Fit,
                                          WallpaperPlacement::Fill,    WallpaperPlacement::Span};

TEST_F(DesktopImage, BlankScreenShowsTheBitmapWallpaperInEveryPlacement) {
  ExpectBlankScreen();
  for (WallpaperPlacement p : kPlacements) {
    SetWallpaper("grid.bmp", p);
    HWND hwnd = MakeSaver(true);
    wintest::Pump(100);
    Shot first = TakeShot();
    Verdict v = Compare(ShotPixels(first), p, 2);
    ExpectShows(v, NameOf(p));
    // Each placement shows what sets it apart: the background colour around a centred picture,
    // beside a fitted one on a monitor of other proportions, and nowhere else.
    bool otherProportions = false;
    for (const RECT &m : Monitors())
      otherProportions =
          otherProportions || (m.right - m.left) * kGridH != (m.bottom - m.top) * kGridW;
    if (p == WallpaperPlacement::Centre || (p == WallpaperPlacement::Fit && otherProportions))
      EXPECT_GT(v.background, 100) << NameOf(p);
    else
      EXPECT_EQ(v.background, 0) << NameOf(p);
    CloseByKey(hwnd);
  }
}

TEST_F(DesktopImage, JpegPngGifAndTheExtensionlessJpegAreDecoded) {
  ExpectBlankScreen();
  // With the system's own copy (the grid), the wallpaper named (a photograph) is not read.
  const struct {
    const char *file;
    bool systemCopy;
    WallpaperPlacement placement;
    int tolerance;
  } cases[] = {{"grid.jpg", false, WallpaperPlacement::Stretch, 12},
               {"grid.png", false, WallpaperPlacement::Fit, 2},
               {"grid.gif", false, WallpaperPlacement::Tile, 2},
               {"TranscodedWallpaper", false, WallpaperPlacement::Fill, 12},
               {"photo1080.jpg", true, WallpaperPlacement::Stretch, 12}};
  // Where Windows 7 (as Wine says it is) to 11 keep their own copy of the wallpaper in use.
  char themes[MAX_PATH];
  ExpandEnvironmentStringsA("%APPDATA%\\Microsoft\\Windows\\Themes", themes, MAX_PATH);
  for (const char *up : {"\\..\\..", "\\..", ""})
    CreateDirectoryA((themes + std::string(up)).c_str(), NULL);
  bool seven = (GetVersion() & 0xFFFF) == 0x0106;
  std::string copy = std::string(themes) + "\\TranscodedWallpaper" + (seven ? ".jpg" : "");
  for (const auto &c : cases) {
    if (c.systemCopy) {
      ASSERT_TRUE(CopyFileA((gFolder + "grid.jpg").c_str(), copy.c_str(), FALSE));
    }
    SetWallpaper(c.file, c.placement);
    ExpectShows(ImageOfSaver(c.placement, c.tolerance),
                std::string(c.file) + " " + NameOf(c.placement));
    DeleteFileA(copy.c_str());
  }
}

// The first frame on the screen is the wallpaper, and from there the effect melts it.
TEST_F(DesktopImage, FirstFrameIsTheWallpaperAndItMelts) {
  ExpectBlankScreen();
  for (const char *file : {"grid.bmp", "grid.jpg"}) {
    SetWallpaper(file, WallpaperPlacement::Centre);
    HWND hwnd = MakeSaver(true);
    Shot first = TakeShot();
    ExpectShows(Compare(ShotPixels(first), WallpaperPlacement::Centre, 12), file);
    wintest::Pump(2500);
    Shot later = TakeShot();
    int changed = 0;
    for (size_t i = 0; i < first.pixels.size(); ++i) changed += first.pixels[i] != later.pixels[i];
    EXPECT_GT(changed, 500) << file << ": the wallpaper does not melt";
    CloseByKey(hwnd);
  }
}

TEST_F(DesktopImage, WindowOfOneColourOverTheScreenCountsAsNotSeen) {
  ShowPicture(RGB(200, 120, 40));
  SetWallpaper("grid.bmp", WallpaperPlacement::Stretch);
  ExpectShows(ImageOfSaver(WallpaperPlacement::Stretch, 2), "over one colour");
}

// What the user has on the screen is what melts, wallpaper or not.
TEST_F(DesktopImage, PictureOnTheScreenIsWhatTheSaverWorksOn) {
  ShowPicture(0);
  SetWallpaper("grid.bmp", WallpaperPlacement::Stretch);
  HWND hwnd = MakeSaver(false);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  PixelsAt image = ImagePixels();
  int wrong = 0;
  for (const RECT &m : Monitors())
    for (int y = m.top; y < m.bottom; y += 13)
      for (int x = m.left + 10; x < m.right; x += 11) wrong += image(x, y) != StripeColour(x);
  EXPECT_EQ(wrong, 0);
  CloseByKey(hwnd);
}

TEST_F(DesktopImage, RefusedCopyOfTheScreenShowsTheWallpaper) {
  ShowPicture(0);
  SetWallpaper("grid.bmp", WallpaperPlacement::Fit);
  gRealBitBlt = reinterpret_cast<BitBltProc>(
      wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(RefusingBitBlt)));
  gRealGetDC = reinterpret_cast<GetDCProc>(
      wintest::PatchImport("user32.dll", "GetDC", reinterpret_cast<void *>(MissingScreenGetDC)));
  ASSERT_NE(gRealBitBlt, nullptr);
  ASSERT_NE(gRealGetDC, nullptr);
  gScreenRefused = true;
  ExpectShows(ImageOfSaver(WallpaperPlacement::Fit, 2), "copy refused");
  gScreenRefused = false;
  gScreenMissing = true;
  ExpectShows(ImageOfSaver(WallpaperPlacement::Fit, 2), "no screen context");
  gScreenMissing = false;
  wintest::PatchImport("gdi32.dll", "BitBlt", reinterpret_cast<void *>(gRealBitBlt));
  wintest::PatchImport("user32.dll", "GetDC", reinterpret_cast<void *>(gRealGetDC));
}

// A secure saver runs on a desktop of its own. The saver's thread is put on one here, with a
// picture on the user's screen that a copy would still read under Wine.
struct OtherDesktopRun {
  bool onOther = false, desktopMade = false;
  Verdict verdict;
  int picturePixels = 0;
};

DWORD WINAPI RunOnOtherDesktop(void *argument) {
  OtherDesktopRun *run = static_cast<OtherDesktopRun *>(argument);
  HDESK desktop = CreateDesktopA("VandrelSaverDesktop", NULL, NULL, 0, GENERIC_ALL, NULL);
  run->desktopMade = desktop != NULL && SetThreadDesktop(desktop);
  if (!run->desktopMade) return 1;
  run->onOther = RunsOnOtherDesktop();
  RECT r = FullScreenRect();
  HWND hwnd =
      CreateWindowExA(WS_EX_TOPMOST, kSaverClass, "Screen Saver", WS_POPUP, r.left, r.top,
                      r.right - r.left, r.bottom - r.top, NULL, NULL, GetModuleHandleA(NULL), NULL);
  if (hwnd != NULL && WaitForWallpaper() && gEffectState.image.pixels != nullptr) {
    run->verdict = Compare(ImagePixels(), WallpaperPlacement::Stretch, 2);
    PixelsAt image = ImagePixels();
    for (int x = r.left + 10; x < r.right; x += 11)
      run->picturePixels += image(x, 300) == StripeColour(x);
  }
  if (hwnd != NULL) DestroyWindow(hwnd);
  CloseDesktop(desktop);
  return 0;
}

TEST_F(DesktopImage, OtherDesktopShowsTheWallpaper) {
  ShowPicture(0);
  SetWallpaper("grid.bmp", WallpaperPlacement::Stretch);
  EXPECT_FALSE(RunsOnOtherDesktop()) << "the test's own thread is on the user's desktop";
  OtherDesktopRun run;
  HANDLE thread = CreateThread(NULL, 0, RunOnOtherDesktop, &run, 0, NULL);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(
      wintest::PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 20000));
  CloseHandle(thread);
  ASSERT_TRUE(run.desktopMade);
  EXPECT_TRUE(run.onOther);
  ExpectShows(run.verdict, "on another desktop");
  EXPECT_EQ(run.picturePixels, 0) << "the user's picture reached the saver";
}

TEST_F(DesktopImage, WithoutGdiplusOnlyBitmapsAreShown) {
  ExpectBlankScreen();
  gRealLoadLibrary = reinterpret_cast<LoadLibraryProc>(wintest::PatchImport(
      "kernel32.dll", "LoadLibraryA", reinterpret_cast<void *>(WithoutGdiplus)));
  ASSERT_NE(gRealLoadLibrary, nullptr);
  gGdiplusMissing = true;
  SetWallpaper("grid.jpg", WallpaperPlacement::Stretch);
  HWND hwnd = MakeSaver(false);
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  EXPECT_EQ(PixelsOtherThan(ImagePixels(), GetSysColor(COLOR_DESKTOP), 0), 0);
  CloseByKey(hwnd);
  SetWallpaper("grid.bmp", WallpaperPlacement::Stretch);
  ExpectShows(ImageOfSaver(WallpaperPlacement::Stretch, 2), "bitmap without GDI+");
  gGdiplusMissing = false;
  wintest::PatchImport("kernel32.dll", "LoadLibraryA", reinterpret_cast<void *>(gRealLoadLibrary));
}

TEST_F(DesktopImage, NoWallpaperGivesTheBackgroundColour) {
  ExpectBlankScreen();
  SetWallpaper("", WallpaperPlacement::Centre);
  HWND hwnd = MakeSaver(true);
  Shot first = TakeShot();
  EXPECT_EQ(PixelsOtherThan(ShotPixels(first), GetSysColor(COLOR_DESKTOP), 0), 0);
  CloseByKey(hwnd);
}

// Wallpapers that are no pictures, or pictures no saver should decode: each gives the
// background colour (or, where the system's decoder makes something of it, a picture), the
// saver starts at once, and a key still closes it.
TEST_F(DesktopImage, BadWallpapersGiveTheBackgroundColour) {
  ExpectBlankScreen();
  std::string huge = gFolder + "huge20000.jpg";
  WriteGreyJpeg(gUnixFolder + "huge20000.jpg", 20000, 20000);
  WriteGreyJpeg(gUnixFolder + "grey64.jpg", 64, 48);
  std::string longName = gFolder + std::string(300, 'x') + ".bmp";
  // Only a file whose header shows a picture of a sane size reaches a decoder.
  const struct {
    const char *what;
    std::string path;
    int decoderRuns;
  } cases[] = {
      {"missing file", gFolder + "not-there.bmp", 0},
      {"a folder", gFolder + "folder.jpg", 0},
      {"a folder's name with a backslash", gFolder + "folder.jpg\\", 0},
      {"a path longer than MAX_PATH", longName, 0},
      {"a zero-byte file", gFolder + "empty.jpg", 0},
      {"a truncated JPEG", gFolder + "truncated.jpg", 1},
      {"a truncated bitmap", gFolder + "truncated.bmp", 0},
      {"a text file called .jpg", gFolder + "text.jpg", 0},
      {"a 20000 x 20000 JPEG", huge, 0},
      {"a device", "NUL", 0},
  };
  gRealLoadImage = reinterpret_cast<LoadImageProc>(wintest::PatchImport(
      "user32.dll", "LoadImageA", reinterpret_cast<void *>(CountingLoadImage)));
  gRealGetProcAddress = reinterpret_cast<GetProcAddressProc>(wintest::PatchImport(
      "kernel32.dll", "GetProcAddress", reinterpret_cast<void *>(CountingGetProcAddress)));
  ASSERT_NE(gRealLoadImage, nullptr);
  ASSERT_NE(gRealGetProcAddress, nullptr);
  COLORREF background = GetSysColor(COLOR_DESKTOP);
  for (const auto &c : cases) {
    SetWallpaperPath(c.path);
    SetString("WallpaperStyle", "2");
    SetString("TileWallpaper", "0");
    gDecoderRuns = 0;
    HWND hwnd = MakeSaver(true);
    std::printf("%s: window made in %lu ms\n", c.what, createMs_);
    EXPECT_EQ(gDecoderRuns, c.decoderRuns) << c.what;
    ASSERT_NE(gEffectState.image.pixels, nullptr) << c.what;
    Shot first = TakeShot();
    int notBackground = PixelsOtherThan(ShotPixels(first), background, 0);
    Verdict picture = Compare(ShotPixels(first), WallpaperPlacement::Stretch, 12);
    EXPECT_TRUE(notBackground == 0 || (picture.checked > 2000 && picture.wrong == 0))
        << c.what << ": " << notBackground << " pixels not in the background colour, and "
        << picture.wrong << " of " << picture.checked << " not the picture";
    if (notBackground != 0) std::printf("%s: shows the picture\n", c.what);
    CloseByKey(hwnd);
  }
  // The hand-made JPEG is one the system decodes: only its size keeps the large one away.
  SetWallpaperPath(gFolder + "grey64.jpg");
  gDecoderRuns = 0;
  HWND hwnd = MakeSaver(false);
  EXPECT_EQ(gDecoderRuns, 1);
  EXPECT_EQ(PixelsOtherThan(ImagePixels(), RGB(128, 128, 128), 1), 0) << "grey64.jpg not decoded";
  CloseByKey(hwnd);
  wintest::PatchImport("user32.dll", "LoadImageA", reinterpret_cast<void *>(gRealLoadImage));
  wintest::PatchImport("kernel32.dll", "GetProcAddress",
                       reinterpret_cast<void *>(gRealGetProcAddress));
}

// WallpaperStyle and TileWallpaper in the shapes a tool may leave them: only clean numbers
// count, anything else is the default, centred.
TEST_F(DesktopImage, PlacementValuesInEveryShape) {
  ExpectBlankScreen();
  SetWallpaperPath(gFolder + "grid.bmp");
  const DWORD two = 2, one = 1;
  const std::string huge(65536, '2');
  const struct {
    const char *what;
    DWORD styleType;
    const void *style;
    DWORD styleSize;
    const char *tile;
    WallpaperPlacement expected;
  } cases[] = {
      {"both missing", REG_SZ, nullptr, 0, nullptr, WallpaperPlacement::Centre},
      {"style missing, tiled", REG_SZ, nullptr, 0, "1", WallpaperPlacement::Tile},
      {"a number", REG_DWORD, &two, 4, "0", WallpaperPlacement::Stretch},
      {"a string without terminator", REG_SZ, "22", 2, "0", WallpaperPlacement::Span},
      {"garbage", REG_SZ, "stretch", 8, "0", WallpaperPlacement::Centre},
      {"garbage, tiled", REG_SZ, "x", 2, "1", WallpaperPlacement::Tile},
      {"binary", REG_BINARY, "2\0\0\0", 4, "0", WallpaperPlacement::Centre},
      {"expandable", REG_EXPAND_SZ, "2", 2, "0", WallpaperPlacement::Centre},
      {"64 kB of digits", REG_SZ, huge.c_str(), 65537, "0", WallpaperPlacement::Centre},
      {"an unknown style", REG_SZ, "7", 2, "garbage", WallpaperPlacement::Centre},
      {"style 0, tile missing", REG_SZ, "0", 2, nullptr, WallpaperPlacement::Centre},
  };
  for (const auto &c : cases) {
    SetValue("WallpaperStyle", c.styleType, c.style, c.styleSize);
    SetString("TileWallpaper", c.tile);
    ExpectShows(ImageOfSaver(c.expected, 2), c.what);
  }
  SetString("WallpaperStyle", "0");
  SetValue("TileWallpaper", REG_DWORD, &one, 4);
  ExpectShows(ImageOfSaver(WallpaperPlacement::Tile, 2), "tiled by a REG_DWORD");
}

// A preview that cannot see its parent shows the primary monitor's desktop at its own size.
TEST_F(DesktopImage, PreviewShowsTheDesktopInSmall) {
  ExpectBlankScreen();
  SetWallpaper("grid.bmp", WallpaperPlacement::Centre);
  HWND parent = CreateWindowExA(0, "VandrelDesktopImageParent", "parent", WS_POPUP | WS_VISIBLE, 40,
                                40, 384, 216, NULL, NULL, GetModuleHandleA(NULL), NULL);
  windows_.push_back(parent);
  UpdateWindow(parent);
  wintest::Pump(100);
  wintest::ResetSaverState();
  gHostState.isPreview = 1;
  HWND hwnd = CreateWindowExA(0, kSaverClass, "Preview", WS_CHILD | WS_VISIBLE, 0, 0, 384, 216,
                              parent, NULL, GetModuleHandleA(NULL), NULL);
  windows_.push_back(hwnd);
  ASSERT_TRUE(WaitForWallpaper());
  ASSERT_NE(gEffectState.image.pixels, nullptr);
  // A fifth of the primary monitor in each direction: the grid's cells are 24 pixels wide there.
  ImageSurface image = {gEffectState.image.pixels, 384, 216};
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  double scaleX = 384.0 / sw, scaleY = 216.0 / sh;
  int wrong = 0, checked = 0;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      double x = ((sw - kGridW) / 2 + col * kCell + kCell / 2) * scaleX;
      double y = ((sh - kGridH) / 2 + row * kCell + kCell / 2) * scaleY;
      ++checked;
      wrong += !Near(image.Read(static_cast<int>(x), static_cast<int>(y)), gCells[row][col], 8);
    }
  for (POINT corner : {POINT{3, 3}, POINT{380, 3}, POINT{3, 212}, POINT{380, 212}}) {
    ++checked;
    wrong += !Near(image.Read(corner.x, corner.y), GetSysColor(COLOR_DESKTOP), 2);
  }
  EXPECT_EQ(wrong, 0) << "of " << checked;
}

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: desktop_image_test WALLPAPER-FOLDER\n");
    return 2;
  }
  gUnixFolder = std::string(argv[1]) + "/";
  gFolder = wintest::WindowsPath(gUnixFolder);
  return RUN_ALL_TESTS();
}
