// The desktop as the system draws it with nothing on it: the background colour and the
// user's wallpaper, placed as the user chose. It is what the effect works on when the screen
// cannot be seen: on a secure saver's own desktop, or when a copy of the screen fails or reads
// one flat colour.
#pragma once

#include <stdint.h>

// How the wallpaper covers a monitor, as the display settings offer it.
enum class WallpaperPlacement : int32_t {
  Centre,   // at its own size, in the middle, cut where it is larger
  Tile,     // at its own size, repeated from the top-left corner
  Stretch,  // to the monitor's size, proportions lost
  Fit,      // as large as fits whole, proportions kept, background colour beside it
  Fill,     // as small as covers all, proportions kept, cut where it overhangs
  Span,     // Fill over the rectangle of every monitor together
};

// A rectangle; right and bottom are outside it.
struct Box {
  int32_t left, top, right, bottom;
};

// The number that a registry value "WallpaperStyle" or "TileWallpaper" holds: a string of one
// to nine decimal digits (REG_SZ, with or without its terminator) or a four-byte REG_DWORD.
// -1 for anything else.
const uint32_t kRegistryString = 1;  // REG_SZ
int32_t WallpaperNumber(bool queryOk, uint32_t type, const uint8_t *data, uint32_t size);

// The placement that "WallpaperStyle" and "TileWallpaper" stand for (-1: missing or unusable).
// Style 2 stretches, 6 fits, 10 fills, 22 spans; any other style, missing included, centres,
// or tiles when "TileWallpaper" is a number other than 0.
WallpaperPlacement PlacementFromNumbers(int32_t style, int32_t tile);

// Where a picture of width x height lands on area (dest, inside area), and which part of the
// picture is shown there (src), for every placement but Tile. A picture side over
// kMaxPictureSide or an area side over kMaxAreaSide places nothing.
void PlacePicture(WallpaperPlacement placement, Box area, int32_t width, int32_t height, Box *dest,
                  Box *src);

enum class PictureKind : int32_t { None, Bitmap, Jpeg, Png, Gif };

struct PictureHeader {
  PictureKind kind;  // None: not a picture this saver reads, or no size could be found
  int32_t width, height;
};

// Reads up to count bytes at offset of the file behind source; returns how many it read.
typedef uint32_t (*ReadAt)(void *source, uint32_t offset, uint8_t *buffer, uint32_t count);

// The kind and size of the picture in a file of fileSize bytes, judged by its first bytes and
// never by its name (Windows keeps the wallpaper in use as a JPEG file without an extension).
// Reads a few hundred bytes at most in a handful of reads, whatever the file holds.
PictureHeader ReadPictureHeader(ReadAt read, void *source, uint32_t fileSize);

// Larger pictures are not decoded: a decoder takes seconds and hundreds of megabytes for them
// before the saver could show anything. A 48-megapixel photograph (8000 x 6000) still passes.
const int32_t kMaxPictureSide = 16384;
const int32_t kMaxPicturePixels = 50000000;
const int32_t kMaxAreaSide = 65536;  // beyond any virtual screen
bool PictureSizeAllowed(int32_t width, int32_t height);

#if defined(_WIN32)
#include <windows.h>

// True on the Windows NT family when this thread's desktop is not the user's "Default" one:
// a secure saver runs on a desktop of its own, where the user's windows are not to be seen.
bool RunsOnOtherDesktop();

// Whether the image of the screen's area at origin shows one colour on every monitor it meets
// (what a copy of a hidden or blank screen reads).
bool ShowsOneColour(const uint32_t *pixels, POINT origin, int32_t width, int32_t height);

// Draws into the image of the screen's area at origin (a memory device context) the desktop
// with nothing on it: the background colour, and the wallpaper once it has been decoded. A
// preview gets the primary monitor's desktop at its own size.
void DrawPlainDesktop(HDC imageDc, POINT origin, int32_t width, int32_t height);

// The wallpaper is found, read and decoded by a thread of its own, started when a new window's
// working image is the plain desktop: a file on a slow disk or a picture of many megapixels
// then holds up neither the first frame nor the reading of input. The thread posts
// MsgWallpaperDecoded to the window when it is done; the window's thread then draws the
// picture over the working image (OnWallpaperDecoded) and keeps it for later re-fits.
const UINT MsgWallpaperDecoded = 0x8001;
void StartDecodingWallpaper(HWND hwnd);
void OnWallpaperDecoded(HWND hwnd);
#endif
