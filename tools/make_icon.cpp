// Draws the module's icon, a desktop monitor whose colours run down the screen and drip off
// its lower edge, and writes it as an icon file with two 32x32 images: 16 colours (4 bits per
// pixel) and 256 colours (8 bits per pixel). The output depends on nothing but this program.
//
//   make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgb {
  int r, g, b;
};

const int kSize = 32;
const Rgb kClear = {-1, -1, -1};

// The sixteen colours of the standard VGA palette, first in both images.
const Rgb kVga[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                      {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                      {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                      {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// How far the desktop's colour band has run down below its top edge, per column: uneven, so
// the drips read as melting rather than as stripes.
int DripLength(int x) {
  static const int kLengths[kSize] = {0, 0,  0,  0,  0,  4, 7, 9,  5,  3,  8, 12, 14, 10, 6, 4,
                                      9, 13, 17, 21, 15, 8, 5, 11, 18, 14, 9, 6,  0,  0,  0, 0};
  return kLengths[x];
}

Rgb BandColour(int x, int shade) {
  static const Rgb kBands[5] = {
      {255, 0, 0}, {255, 255, 0}, {0, 255, 0}, {0, 0, 255}, {255, 0, 255}};
  Rgb c = kBands[(x - 5) * 5 / 22];
  // Darker as the colour runs further down (only the 256-colour image shows the steps).
  return {c.r * (8 - shade) / 8, c.g * (8 - shade) / 8, c.b * (8 - shade) / 8};
}

Rgb Pixel(int x, int y) {
  const bool inScreen = x >= 5 && x <= 26 && y >= 6 && y <= 20;
  const bool onBezel = x >= 2 && x <= 29 && y >= 3 && y <= 23;
  const int bandTop = 8, bandBottom = 10;
  if (x >= 5 && x <= 26 && y >= bandTop) {
    int run = y - bandBottom;
    if (y <= bandBottom || run <= DripLength(x)) {
      // Past the screen's lower edge only the longest drips go on, over the bezel and stand.
      if (inScreen || (y > 20 && run <= DripLength(x) && DripLength(x) > 10 + (y - 20)))
        return BandColour(x, run > 0 ? run * 4 / 22 : 0);
    }
  }
  if (inScreen) return y < bandTop ? Rgb{0, 128, 128} : Rgb{0, 96, 96};
  if (onBezel) {
    bool edge = x == 2 || x == 29 || y == 3 || y == 23;
    return edge ? Rgb{0, 0, 0} : Rgb{192, 192, 192};
  }
  if (x >= 13 && x <= 18 && y >= 24 && y <= 26) return {128, 128, 128};
  if (x >= 8 && x <= 23 && y >= 27 && y <= 28) return (y == 28) ? Rgb{0, 0, 0} : Rgb{128, 128, 128};
  return kClear;
}

std::vector<Rgb> Palette(int colours) {
  std::vector<Rgb> palette(kVga, kVga + 16);
  if (colours == 256) {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) palette.push_back({r * 51, g * 51, b * 51});
    while (palette.size() < 256) {
      int level = static_cast<int>(palette.size() - 232) * 10 + 8;
      palette.push_back({level, level, level});
    }
  }
  return palette;
}

int Nearest(const std::vector<Rgb> &palette, Rgb c) {
  int best = 0;
  long bestDistance = -1;
  for (size_t i = 0; i < palette.size(); ++i) {
    long dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
    long distance = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || distance < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = distance;
    }
  }
  return best;
}

void Put16(std::vector<uint8_t> &out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t> &out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One icon image: header (height doubled for the mask), palette, colour rows bottom-up, mask.
std::vector<uint8_t> Image(int bits) {
  const int colours = 1 << bits;
  std::vector<Rgb> palette = Palette(colours);
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, kSize);
  Put32(out, kSize * 2);
  Put16(out, 1);
  Put16(out, bits);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (const Rgb &c : palette) {
    out.push_back(static_cast<uint8_t>(c.b));
    out.push_back(static_cast<uint8_t>(c.g));
    out.push_back(static_cast<uint8_t>(c.r));
    out.push_back(0);
  }
  for (int y = kSize - 1; y >= 0; --y) {
    std::vector<uint8_t> row(kSize * bits / 8, 0);
    for (int x = 0; x < kSize; ++x) {
      Rgb c = Pixel(x, y);
      int index = c.r < 0 ? 0 : Nearest(palette, c);
      if (bits == 8)
        row[x] = static_cast<uint8_t>(index);
      else
        row[x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = kSize - 1; y >= 0; --y) {
    uint8_t row[4] = {0, 0, 0, 0};
    for (int x = 0; x < kSize; ++x)
      if (Pixel(x, y).r < 0) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row, row + 4);
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  std::vector<uint8_t> images[2] = {Image(4), Image(8)};
  std::vector<uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);  // icon
  Put16(file, 2);
  uint32_t offset = 6 + 16 * 2;
  for (int i = 0; i < 2; ++i) {
    file.push_back(kSize);
    file.push_back(kSize);
    file.push_back(i == 0 ? 16 : 0);  // colour count, 0 for 256
    file.push_back(0);
    Put16(file, 1);
    Put16(file, i == 0 ? 4 : 8);
    Put32(file, static_cast<uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (auto &image : images) file.insert(file.end(), image.begin(), image.end());
  FILE *out = std::fopen(argv[1], "wb");
  if (!out) return 1;
  bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && ok ? 0 : 1;
}
