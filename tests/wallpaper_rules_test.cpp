// The wallpaper's registry numbers, its placement on a monitor and the picture sizes read from
// file headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "effect/wallpaper.h"

namespace {

const uint32_t kString = 1, kExpandString = 2, kBinary = 3, kDword = 4, kMultiString = 7;

int32_t Number(uint32_t type, const std::string &bytes) {
  return WallpaperNumber(true, type, reinterpret_cast<const uint8_t *>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
}

TEST(WallpaperNumber, ReadsDecimalStringsAndFourByteNumbersOnly) {
  EXPECT_EQ(Number(kString, std::string("0\0", 2)), 0);
  EXPECT_EQ(Number(kString, std::string("22\0", 3)), 22);
  EXPECT_EQ(Number(kString, "10"), 10);  // without its terminator
  EXPECT_EQ(Number(kString, std::string("6\0garbage", 9)), 6);
  EXPECT_EQ(Number(kString, "000000010"), 10);
  EXPECT_EQ(Number(kString, "999999999"), 999999999);
  EXPECT_EQ(Number(kDword, std::string("\x16\0\0\0", 4)), 22);
  EXPECT_EQ(Number(kDword, std::string("\x01\0\0\x80", 4)), -1);  // above INT32_MAX

  const std::string unusable[] = {
      "", std::string("\0", 1), "1234567890", "-1", "+2", " 2", "2 ", "0x16", "2.0", "\xff", "ten"};
  for (const std::string &text : unusable) EXPECT_EQ(Number(kString, text), -1) << text;
  for (uint32_t type : {0u, kExpandString, kBinary, kMultiString, 11u, 0xFFFFFFFFu})
    EXPECT_EQ(Number(type, std::string("2\0\0\0", 4)), -1) << type;
  for (size_t size : {0u, 1u, 3u, 5u, 8u})
    EXPECT_EQ(Number(kDword, std::string(size, '\x02')), -1) << size;
  EXPECT_EQ(WallpaperNumber(false, kString, reinterpret_cast<const uint8_t *>("2"), 1), -1);
  EXPECT_EQ(WallpaperNumber(true, kString, nullptr, 4), -1);
}

TEST(PlacementFromNumbers, FollowsTheDisplaySettingsAndCentresOtherwise) {
  EXPECT_EQ(PlacementFromNumbers(0, 0), WallpaperPlacement::Centre);
  EXPECT_EQ(PlacementFromNumbers(0, 1), WallpaperPlacement::Tile);
  EXPECT_EQ(PlacementFromNumbers(2, 0), WallpaperPlacement::Stretch);
  EXPECT_EQ(PlacementFromNumbers(6, 0), WallpaperPlacement::Fit);
  EXPECT_EQ(PlacementFromNumbers(10, 0), WallpaperPlacement::Fill);
  EXPECT_EQ(PlacementFromNumbers(22, 0), WallpaperPlacement::Span);
  // Tiling goes with style 0 only.
  EXPECT_EQ(PlacementFromNumbers(2, 1), WallpaperPlacement::Stretch);
  EXPECT_EQ(PlacementFromNumbers(10, 1), WallpaperPlacement::Fill);
  // Missing or unusable values.
  EXPECT_EQ(PlacementFromNumbers(-1, -1), WallpaperPlacement::Centre);
  EXPECT_EQ(PlacementFromNumbers(-1, 1), WallpaperPlacement::Tile);
  EXPECT_EQ(PlacementFromNumbers(0, -1), WallpaperPlacement::Centre);
  for (int32_t style : {1, 3, 4, 5, 7, 11, 21, 23, 100, 999999999})
    EXPECT_EQ(PlacementFromNumbers(style, 0), WallpaperPlacement::Centre) << style;
  EXPECT_EQ(PlacementFromNumbers(0, 2), WallpaperPlacement::Tile);
}

struct Placed {
  Box dest, src;
};

Placed Place(WallpaperPlacement p, Box area, int32_t w, int32_t h) {
  Placed r;
  PlacePicture(p, area, w, h, &r.dest, &r.src);
  return r;
}

void ExpectBox(const Box &b, int32_t l, int32_t t, int32_t r, int32_t bo, const char *what) {
  EXPECT_EQ(b.left, l) << what;
  EXPECT_EQ(b.top, t) << what;
  EXPECT_EQ(b.right, r) << what;
  EXPECT_EQ(b.bottom, bo) << what;
}

TEST(PlacePicture, EachPlacementOnAMonitorOfOtherProportions) {
  const Box monitor = {1920, 0, 3840, 1080};  // a second monitor right of the first
  Placed centre = Place(WallpaperPlacement::Centre, monitor, 480, 360);
  ExpectBox(centre.dest, 1920 + 720, 360, 1920 + 1200, 720, "centre");
  ExpectBox(centre.src, 0, 0, 480, 360, "centre source");
  Placed big = Place(WallpaperPlacement::Centre, monitor, 2000, 1201);
  ExpectBox(big.dest, 1920, 0, 3840, 1080, "centre of a larger picture");
  ExpectBox(big.src, 40, 60, 1960, 1140, "centre of a larger picture, its middle");
  Placed wide = Place(WallpaperPlacement::Centre, monitor, 2000, 500);
  ExpectBox(wide.dest, 1920, 290, 3840, 790, "centre of a wider picture");
  ExpectBox(wide.src, 40, 0, 1960, 500, "centre of a wider picture, its middle");
  Placed stretch = Place(WallpaperPlacement::Stretch, monitor, 480, 360);
  ExpectBox(stretch.dest, 1920, 0, 3840, 1080, "stretch");
  ExpectBox(stretch.src, 0, 0, 480, 360, "stretch source");
  // 4:3 on 16:9: fit is 1440 wide with bars, fill shows the middle 480x270.
  Placed fit = Place(WallpaperPlacement::Fit, monitor, 480, 360);
  ExpectBox(fit.dest, 1920 + 240, 0, 1920 + 1680, 1080, "fit");
  ExpectBox(fit.src, 0, 0, 480, 360, "fit source");
  Placed fill = Place(WallpaperPlacement::Fill, monitor, 480, 360);
  ExpectBox(fill.dest, 1920, 0, 3840, 1080, "fill");
  ExpectBox(fill.src, 0, 45, 480, 315, "fill source");
  // A panorama: fit gives bars above and below, fill cuts its sides.
  Placed fitWide = Place(WallpaperPlacement::Fit, monitor, 4000, 1000);
  ExpectBox(fitWide.dest, 1920, 300, 3840, 780, "fit of a panorama");
  Placed fillWide = Place(WallpaperPlacement::Fill, monitor, 4000, 1000);
  ExpectBox(fillWide.src, 1111, 0, 2889, 1000, "fill of a panorama");
  // Span is fill over the whole virtual screen.
  Placed span = Place(WallpaperPlacement::Span, Box{-1024, 0, 1920, 1080}, 480, 360);
  ExpectBox(span.dest, -1024, 0, 1920, 1080, "span");
  ExpectBox(span.src, 0, 92, 480, 268, "span source");  // 480 x 176 of 2944 x 1080
}

TEST(PlacePicture, DegenerateSizesGiveNothingOrAtLeastOnePixel) {
  for (WallpaperPlacement p : {WallpaperPlacement::Centre, WallpaperPlacement::Stretch,
                               WallpaperPlacement::Fit, WallpaperPlacement::Fill}) {
    Placed empty = Place(p, Box{0, 0, 0, 100}, 10, 10);
    EXPECT_EQ(empty.dest.right - empty.dest.left, 0);
    Placed none = Place(p, Box{0, 0, 100, 100}, 0, 10);
    EXPECT_EQ(none.dest.right - none.dest.left, 0);
  }
  Placed thin = Place(WallpaperPlacement::Fit, Box{0, 0, 1920, 1080}, 16384, 1);
  EXPECT_GE(thin.dest.bottom - thin.dest.top, 1);
  Placed tall = Place(WallpaperPlacement::Fill, Box{0, 0, 1920, 1080}, 16384, 1);
  EXPECT_GE(tall.src.right - tall.src.left, 1);
  EXPECT_LE(tall.src.right, 16384);
}

TEST(PictureSizeAllowed, RefusesWhatWouldTakeSecondsToDecode) {
  EXPECT_TRUE(PictureSizeAllowed(1, 1));
  EXPECT_TRUE(PictureSizeAllowed(8000, 6000));
  EXPECT_TRUE(PictureSizeAllowed(16384, 3000));
  EXPECT_FALSE(PictureSizeAllowed(16385, 100));
  EXPECT_FALSE(PictureSizeAllowed(100, 16385));
  EXPECT_FALSE(PictureSizeAllowed(10000, 10000));
  EXPECT_FALSE(PictureSizeAllowed(20000, 20000));
  EXPECT_FALSE(PictureSizeAllowed(0, 10));
  EXPECT_FALSE(PictureSizeAllowed(-5, 10));
  EXPECT_FALSE(PictureSizeAllowed(INT32_MIN, INT32_MIN));
}

// A file in memory, with its reads counted.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  int reads = 0;
  uint32_t bytesRead = 0;
};

uint32_t ReadMemory(void *source, uint32_t offset, uint8_t *buffer, uint32_t count) {
  MemoryFile *f = static_cast<MemoryFile *>(source);
  ++f->reads;
  if (offset >= f->bytes.size()) return 0;
  uint32_t n = static_cast<uint32_t>(f->bytes.size() - offset);
  if (n > count) n = count;
  std::memcpy(buffer, f->bytes.data() + offset, n);
  f->bytesRead += n;
  return n;
}

PictureHeader Header(MemoryFile &f) {
  return ReadPictureHeader(ReadMemory, &f, static_cast<uint32_t>(f.bytes.size()));
}

MemoryFile File(std::initializer_list<int> bytes, size_t padTo = 0) {
  MemoryFile f;
  for (int b : bytes) f.bytes.push_back(static_cast<uint8_t>(b));
  if (f.bytes.size() < padTo) f.bytes.resize(padTo, 0);
  return f;
}

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A bitmap file with its pixels (or, with missing > 0, that many bytes short of them).
MemoryFile Bitmap(uint32_t infoSize, uint32_t width, uint32_t height, uint32_t bits = 24,
                  uint32_t compression = 0, size_t missing = 0) {
  MemoryFile f = File({'B', 'M'}, 54);
  Put32(f.bytes, 10, 54);
  Put32(f.bytes, 14, infoSize);
  Put32(f.bytes, 18, width);
  Put32(f.bytes, 22, height);
  Put16(f.bytes, 28, bits);
  Put32(f.bytes, 30, compression);
  uint32_t rows = height & 0x80000000u ? 0u - height : height;
  // Pixels of more than 16 MB are left out: the header alone claims them.
  uint64_t pixels = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4 * rows;
  if (pixels > (1u << 24)) pixels = missing = 0;
  f.bytes.resize(54 + static_cast<size_t>(pixels) - missing, 0);
  return f;
}

void ExpectPicture(PictureHeader h, PictureKind kind, int32_t w, int32_t hh, const char *what) {
  EXPECT_EQ(h.kind, kind) << what;
  EXPECT_EQ(h.width, w) << what;
  EXPECT_EQ(h.height, hh) << what;
}

TEST(ReadPictureHeader, BitmapsOfEveryHeaderAndBothRowOrders) {
  MemoryFile f = Bitmap(40, 64, 48);
  ExpectPicture(Header(f), PictureKind::Bitmap, 64, 48, "bottom-up");
  f = Bitmap(124, 64, static_cast<uint32_t>(-48), 32, 3);
  ExpectPicture(Header(f), PictureKind::Bitmap, 64, 48, "top-down, bit fields, version 5 header");
  for (uint32_t bits : {1u, 4u, 8u, 16u}) {
    f = Bitmap(40, 63, 5, bits);
    ExpectPicture(Header(f), PictureKind::Bitmap, 63, 5, "bits per pixel");
  }
  // The OS/2 header: 16-bit sizes, 640 x 2 in one bit per pixel.
  f = File({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0, 0x80, 2, 2, 0, 1, 0, 1, 0},
           32 + 2 * 80);
  ExpectPicture(Header(f), PictureKind::Bitmap, 640, 2, "OS/2 core header");
  f.bytes.pop_back();
  EXPECT_EQ(Header(f).kind, PictureKind::None) << "OS/2 header, one byte short";
  // Run-length coded: as large as its header says it is.
  f = Bitmap(40, 64, 48, 8, 1);
  f.bytes.resize(54 + 100);
  Put32(f.bytes, 34, 100);
  ExpectPicture(Header(f), PictureKind::Bitmap, 64, 48, "run-length coded");
  Put32(f.bytes, 34, 101);
  EXPECT_EQ(Header(f).kind, PictureKind::None) << "run-length coded, cut";
  Put32(f.bytes, 34, 0);
  EXPECT_EQ(Header(f).kind, PictureKind::None) << "run-length coded, size not given";

  const struct {
    const char *what;
    MemoryFile file;
  } bad[] = {
      {"no header size", Bitmap(0, 64, 48)},
      {"a header too small", Bitmap(39, 64, 48)},
      {"no width", Bitmap(40, 0, 48)},
      {"no height", Bitmap(40, 64, 0)},
      {"width of 2^31", Bitmap(40, 0x80000000u, 48)},
      {"height of -2^31", Bitmap(40, 64, 0x80000000u)},
      {"width of 2^32 - 1", Bitmap(40, 0xFFFFFFFFu, 48)},
      {"pixels cut short by one byte", Bitmap(40, 64, 48, 24, 0, 1)},
      {"pixels cut in half", Bitmap(40, 64, 48, 24, 0, 64 * 3 * 24)},
      {"a size far beyond the file", Bitmap(40, 20000, 20000, 24, 0, 0)},
      {"7 bits per pixel", Bitmap(40, 64, 48, 7)},
      {"0 bits per pixel", Bitmap(40, 64, 48, 0)},
      {"a JPEG inside", Bitmap(40, 64, 48, 24, 4)},
      {"a PNG inside", Bitmap(40, 64, 48, 24, 5)},
  };
  for (const auto &b : bad) {
    MemoryFile copy = b.file;
    EXPECT_EQ(Header(copy).kind, PictureKind::None) << b.what;
  }
  f = Bitmap(40, 64, 48);
  f.bytes.resize(37);
  EXPECT_EQ(Header(f).kind, PictureKind::None) << "cut inside its header";
}

TEST(ReadPictureHeader, PngAndGifSizes) {
  MemoryFile png = File({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0,    13,
                         'I',  'H', 'D', 'R', 0,    0,    0x07, 0x80, 0, 0, 0x04, 0x38},
                        33);
  ExpectPicture(Header(png), PictureKind::Png, 1920, 1080, "png");
  png.bytes[12] = 'X';
  EXPECT_EQ(Header(png).kind, PictureKind::None);
  MemoryFile gif = File({'G', 'I', 'F', '8', '9', 'a', 0xE0, 1, 0x68, 1}, 13);
  ExpectPicture(Header(gif), PictureKind::Gif, 480, 360, "gif89a");
  gif.bytes[4] = '7';
  ExpectPicture(Header(gif), PictureKind::Gif, 480, 360, "gif87a");
  gif.bytes[4] = '8';
  EXPECT_EQ(Header(gif).kind, PictureKind::None);
}

// A JPEG's start: the image marker, the given segments, then a frame header of w x h.
MemoryFile Jpeg(const std::vector<std::vector<uint8_t>> &segments, uint8_t frame, int w, int h) {
  MemoryFile f = File({0xFF, 0xD8});
  for (const auto &s : segments) f.bytes.insert(f.bytes.end(), s.begin(), s.end());
  std::vector<uint8_t> sof = {0xFF,
                              frame,
                              0,
                              11,
                              8,
                              static_cast<uint8_t>(h >> 8),
                              static_cast<uint8_t>(h),
                              static_cast<uint8_t>(w >> 8),
                              static_cast<uint8_t>(w),
                              1,
                              1,
                              0x11,
                              0};
  f.bytes.insert(f.bytes.end(), sof.begin(), sof.end());
  return f;
}

std::vector<uint8_t> Segment(uint8_t marker, size_t payload) {
  std::vector<uint8_t> s = {0xFF, marker, static_cast<uint8_t>((payload + 2) >> 8),
                            static_cast<uint8_t>(payload + 2)};
  s.resize(4 + payload, 0);
  return s;
}

TEST(ReadPictureHeader, JpegSizeFromItsFrameHeaderPastOtherSegments) {
  std::vector<uint8_t> exif = Segment(0xE1, 60000);
  // A thumbnail's own frame inside the Exif segment is stepped over, not taken.
  exif[20] = 0xFF;
  exif[21] = 0xC0;
  MemoryFile f =
      Jpeg({Segment(0xE0, 14), exif, Segment(0xDB, 65), Segment(0xC4, 30)}, 0xC0, 1920, 1080);
  ExpectPicture(Header(f), PictureKind::Jpeg, 1920, 1080, "baseline");
  EXPECT_LT(f.bytesRead, 200u) << "the Exif data was read, not skipped";
  for (uint8_t frame : {0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
    f = Jpeg({Segment(0xE0, 14)}, frame, 20000, 20000);
    ExpectPicture(Header(f), PictureKind::Jpeg, 20000, 20000, "frame kind");
  }
  // Fill bytes and markers without a length on the way.
  f = Jpeg({{0xFF, 0xFF}, {0xFF, 0xD0}, Segment(0xFE, 3)}, 0xC0, 64, 48);
  ExpectPicture(Header(f), PictureKind::Jpeg, 64, 48, "fill bytes");
}

TEST(ReadPictureHeader, BrokenJpegsAreNotPictures) {
  struct Case {
    const char *what;
    MemoryFile file;
  };
  std::vector<Case> cases;
  MemoryFile f = Jpeg({Segment(0xE0, 14)}, 0xC0, 64, 48);
  f.bytes.resize(f.bytes.size() - 6);
  cases.push_back({"cut inside the frame header", f});
  cases.push_back({"no frame before the data", Jpeg({Segment(0xDA, 10)}, 0xC0, 64, 48)});
  cases.push_back({"end before any frame", Jpeg({{0xFF, 0xD9}}, 0xC0, 64, 48)});
  cases.push_back({"zero width", Jpeg({}, 0xC0, 0, 48)});
  cases.push_back({"zero height (set later by a DNL segment)", Jpeg({}, 0xC0, 64, 0)});
  cases.push_back({"a segment length below 2", Jpeg({{0xFF, 0xE0, 0, 1}}, 0xC0, 64, 48)});
  cases.push_back(
      {"a segment past the end of the file", Jpeg({{0xFF, 0xE0, 0xFF, 0xFF}}, 0xC0, 64, 48)});
  cases.push_back({"no marker where one belongs", Jpeg({{0x00, 0xE0, 0, 4, 0, 0}}, 0xC0, 64, 48)});
  std::vector<std::vector<uint8_t>> many(70, Segment(0xE2, 2));
  cases.push_back(
      {"more segments before its frame than any picture has", Jpeg(many, 0xC0, 64, 48)});
  cases.push_back({"the image marker alone", File({0xFF, 0xD8, 0xFF})});
  cases.push_back({"text called .jpg", File({'T', 'h', 'i', 's', ' ', 'i', 's'}, 40)});
  cases.push_back({"empty", File({})});
  for (Case &c : cases) {
    PictureHeader h = Header(c.file);
    EXPECT_EQ(h.kind, PictureKind::None) << c.what;
    EXPECT_LE(c.file.reads, 70) << c.what;
  }
}

}  // namespace
