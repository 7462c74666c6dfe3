// The wallpaper's registry numbers, its placement on a monitor and the size a picture file
// declares; no platform calls, so they are tested and fuzzed anywhere.
#include "../settings/settings.h"
#include "wallpaper.h"

int32_t WallpaperNumber(bool queryOk, uint32_t type, const uint8_t *data, uint32_t size) {
  if (!queryOk || data == nullptr) return -1;
  if (type == kRegistryDword) {
    if (size != 4) return -1;
    uint32_t value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    return value <= 0x7FFFFFFFu ? static_cast<int32_t>(value) : -1;
  }
  if (type != kRegistryString) return -1;
  int32_t value = 0;
  uint32_t digits = 0;
  // What follows the terminator is not part of the string.
  for (; digits < size && data[digits] != 0; ++digits) {
    if (digits == 9 || data[digits] < '0' || data[digits] > '9') return -1;
    value = value * 10 + (data[digits] - '0');
  }
  return digits > 0 ? value : -1;
}

WallpaperPlacement PlacementFromNumbers(int32_t style, int32_t tile) {
  switch (style) {
    case 2:
      return WallpaperPlacement::Stretch;
    case 6:
      return WallpaperPlacement::Fit;
    case 10:
      return WallpaperPlacement::Fill;
    case 22:
      return WallpaperPlacement::Span;
  }
  return tile > 0 ? WallpaperPlacement::Tile : WallpaperPlacement::Centre;
}

// a * b / c to the nearest whole number but at least 1, for a * b below 2^31. In 32 bits: the
// 80386 module has no helper for 64-bit division.
__attribute__((noinline)) static int32_t Scaled(int32_t a, int32_t b, int32_t c) {
  uint32_t r =
      (static_cast<uint32_t>(a) * static_cast<uint32_t>(b) + static_cast<uint32_t>(c) / 2) /
      static_cast<uint32_t>(c);
  return r > 0 ? static_cast<int32_t>(r) : 1;
}

// A box of width x height in the middle of area, rounded towards its top-left.
__attribute__((noinline)) static Box CentredBox(Box area, int32_t width, int32_t height) {
  int32_t left = area.left + (area.right - area.left - width) / 2;
  int32_t top = area.top + (area.bottom - area.top - height) / 2;
  return Box{left, top, left + width, top + height};
}

void PlacePicture(WallpaperPlacement placement, Box area, int32_t width, int32_t height, Box *dest,
                  Box *src) {
  *src = Box{0, 0, width, height};
  *dest = area;
  int32_t areaWidth = area.right - area.left, areaHeight = area.bottom - area.top;
  // Sides of up to 2^14 and 2^16 keep every product below 2^30.
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      areaWidth <= 0 || areaHeight <= 0 || areaWidth > kMaxAreaSide || areaHeight > kMaxAreaSide) {
    dest->right = area.left;
    dest->bottom = area.top;
    return;
  }
  // Whether the picture is wider, for its height, than the area.
  bool wider = width * areaHeight >= height * areaWidth;
  int32_t w = width, h = height;  // the size it shows at
  switch (placement) {
    case WallpaperPlacement::Stretch:
      return;
    case WallpaperPlacement::Fill:
    case WallpaperPlacement::Span:
      // The middle part of the picture that has the area's proportions, over all of it.
      *src = CentredBox(*src, wider ? Scaled(height, areaWidth, areaHeight) : width,
                        wider ? height : Scaled(width, areaHeight, areaWidth));
      return;
    case WallpaperPlacement::Fit:
      w = wider ? areaWidth : Scaled(width, areaHeight, height);
      h = wider ? Scaled(height, areaWidth, width) : areaHeight;
      break;
    default:
      // At its own size: the middle part that fits.
      if (w > areaWidth) w = areaWidth;
      if (h > areaHeight) h = areaHeight;
      *src = CentredBox(*src, w, h);
  }
  *dest = CentredBox(area, w, h);
}

bool PictureSizeAllowed(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

static uint32_t Little16(const uint8_t *p) {
  return p[0] | p[1] << 8;
}
static uint32_t Little32(const uint8_t *p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
__attribute__((noinline)) static uint32_t Big16(const uint8_t *p) {
  return p[0] << 8 | p[1];
}
static uint32_t Big32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

__attribute__((noinline)) static PictureHeader Picture(PictureKind kind, uint32_t width,
                                                       uint32_t height) {
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
    return PictureHeader{PictureKind::None, 0, 0};
  return PictureHeader{kind, static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// A bitmap whose pixels the file does not hold in full is not taken: the system's loader may
// read past the end of a cut file or make a picture of whatever follows.
static bool BitmapPixelsFit(const uint8_t *head, uint32_t width, uint32_t height, uint32_t bits,
                            uint32_t compression, uint32_t fileSize) {
  uint32_t start = Little32(head + 10);
  if (start > fileSize) return false;
  uint32_t room = fileSize - start;
  if (compression == 0 || compression == 3 || compression == 6) {  // plain rows, bit fields
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (width > 0x07FFFFFFu) return false;  // width * 32 stays in 32 bits
    uint32_t rowBytes = ((width * bits + 31) >> 5) * 4;
    return height <= room / rowBytes;
  }
  if (compression == 1 || compression == 2) {  // run-length coded: as large as stored
    uint32_t size = Little32(head + 34);
    return size > 0 && size <= room;
  }
  return false;
}

static PictureHeader BitmapHeader(const uint8_t *head, uint32_t got, uint32_t fileSize) {
  uint32_t infoSize = Little32(head + 14);
  uint32_t width, height, bits, compression;
  if (infoSize == 12) {
    width = Little16(head + 18);
    height = Little16(head + 20);
    bits = Little16(head + 24);
    compression = 0;
  } else if (infoSize >= 40 && got >= 38) {
    width = Little32(head + 18);
    height = Little32(head + 22);
    bits = Little16(head + 28);
    compression = Little32(head + 30);
    // Rows stored top-down give a negative height.
    if (height & 0x80000000u) height = 0u - height;
  } else {
    return Picture(PictureKind::None, 0, 0);
  }
  PictureHeader header = Picture(PictureKind::Bitmap, width, height);
  if (header.kind == PictureKind::None ||
      !BitmapPixelsFit(head, width, height, bits, compression, fileSize))
    return Picture(PictureKind::None, 0, 0);
  return header;
}

// Frame headers (SOF0 to SOF15) carry the size; C4, C8 and CC are other markers.
static bool IsFrameMarker(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the segments before the first frame header, skipping each by its length. A file with
// more segments in front of its frame than any real one has is not taken.
static PictureHeader JpegHeader(ReadAt read, void *source, uint32_t fileSize) {
  const int kMaxSegments = 64;
  uint32_t offset = 2;
  for (int i = 0; i < kMaxSegments && offset < fileSize; ++i) {
    uint8_t b[9];
    uint32_t got = read(source, offset, b, sizeof b);
    if (got < 2 || b[0] != 0xFF) break;
    uint8_t marker = b[1];
    if (marker == 0xFF) {  // fill byte before a marker
      offset += 1;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
      offset += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA || got < 4) break;  // the end, or data before a frame
    uint32_t length = Big16(b + 2);
    if (length < 2) break;
    if (IsFrameMarker(marker)) {
      if (got < 9) break;
      return Picture(PictureKind::Jpeg, Big16(b + 7), Big16(b + 5));
    }
    // A segment that runs past the end of the file.
    if (fileSize - offset < 2 || length > fileSize - offset - 2) break;
    offset += 2 + length;
  }
  return Picture(PictureKind::None, 0, 0);
}

PictureHeader ReadPictureHeader(ReadAt read, void *source, uint32_t fileSize) {
  uint8_t head[38];
  uint32_t got = read(source, 0, head, sizeof head);
  if (got >= 26 && head[0] == 'B' && head[1] == 'M') return BitmapHeader(head, got, fileSize);
  // 89 "PNG" CR LF 1A LF, then the image header chunk.
  if (got >= 24 && Little32(head) == 0x474E5089u && Little32(head + 4) == 0x0A1A0A0Du &&
      Little32(head + 12) == 0x52444849u)
    return Picture(PictureKind::Png, Big32(head + 16), Big32(head + 20));
  // "GIF87a" or "GIF89a".
  if (got >= 10 && Little32(head) == 0x38464947u && (head[4] == '7' || head[4] == '9') &&
      head[5] == 'a')
    return Picture(PictureKind::Gif, Little16(head + 6), Little16(head + 8));
  if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
    return JpegHeader(read, source, fileSize);
  return Picture(PictureKind::None, 0, 0);
}
