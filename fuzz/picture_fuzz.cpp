// Picture headers on arbitrary file contents, and the wallpaper's placement on arbitrary
// monitors: every read inside the file and few of them, a picture only with a size, every
// placed part of the picture inside the picture.
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <cstring>

#include "effect/wallpaper.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Source {
  const uint8_t *data;
  uint32_t size;
  int reads;
};

uint32_t ReadSource(void *source, uint32_t offset, uint8_t *buffer, uint32_t count) {
  Source *s = static_cast<Source *>(source);
  ++s->reads;
  Require(count <= 64);
  if (offset >= s->size) return 0;
  uint32_t n = s->size - offset < count ? s->size - offset : count;
  std::memcpy(buffer, s->data + offset, n);
  return n;
}

int32_t Bounded(const uint8_t *data, size_t size, size_t at, int32_t low, int32_t high) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | (at + i < size ? data[at + i] : 0);
  return low + static_cast<int32_t>(v % static_cast<uint32_t>(high - low + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Source source = {data, static_cast<uint32_t>(size), 0};
  PictureHeader h = ReadPictureHeader(ReadSource, &source, source.size);
  Require(source.reads <= 70);
  Require(h.kind == PictureKind::None || (h.width > 0 && h.height > 0));

  // A picture of any size up to twice the largest on a monitor anywhere on a virtual screen of
  // real size: every placement stays inside the monitor and shows a part of the picture; one
  // too large shows nothing.
  int32_t width = Bounded(data, size, 0, 1, 2 * kMaxPictureSide);
  int32_t height = Bounded(data, size, 4, 1, 2 * kMaxPictureSide);
  Box area;
  area.left = Bounded(data, size, 8, -32768, 32767);
  area.top = Bounded(data, size, 12, -32768, 32767);
  area.right = area.left + Bounded(data, size, 16, 0, 32767);
  area.bottom = area.top + Bounded(data, size, 20, 0, 32767);
  WallpaperPlacement placement = static_cast<WallpaperPlacement>(Bounded(data, size, 24, 0, 5));
  Box dest, src;
  PlacePicture(placement, area, width, height, &dest, &src);
  Require(src.left >= 0 && src.top >= 0 && src.right <= width && src.bottom <= height);
  Require(src.right > src.left && src.bottom > src.top);
  Require(dest.left >= area.left && dest.top >= area.top && dest.right <= area.right &&
          dest.bottom <= area.bottom);
  bool shown = dest.right > dest.left && dest.bottom > dest.top;
  bool placeable = area.right > area.left && area.bottom > area.top && width <= kMaxPictureSide &&
                   height <= kMaxPictureSide;
  Require(shown == placeable);
  return 0;
}
