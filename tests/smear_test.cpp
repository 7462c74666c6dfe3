// The sampler and the smearing step on in-memory surfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "effect/effect.h"
#include "in_order_step.h"

namespace {

uint32_t gClockCalls;
uint32_t gClockValue;
uint32_t FakeClock() {
  ++gClockCalls;
  return gClockValue;
}

void Reseed(uint32_t seed) {
  gEffectState.seed = seed;
  gClockCalls = 0;
  gClockValue = 1;
}

void Use(int32_t method, int32_t lossy) {
  gSettings.method = method;
  gSettings.lossy = lossy;
}

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | g << 8 | b << 16;
}
uint32_t Red(uint32_t c) {
  return c & 0xFF;
}
uint32_t Green(uint32_t c) {
  return c >> 8 & 0xFF;
}
uint32_t Blue(uint32_t c) {
  return c >> 16 & 0xFF;
}

// An in-memory image that also keeps a log of every write it was asked for, inside or not.
struct LoggedWrite {
  int32_t x, y;
  COLORREF c;
};

struct RecordingSurface {
  std::vector<uint32_t> pixels;
  ImageSurface image;
  std::vector<LoggedWrite> writes;

  RecordingSurface(int32_t width, int32_t height, COLORREF fill = 0)
      : pixels(static_cast<size_t>(width) * height, ImageSurface::SwapRedBlue(fill)),
        image{pixels.data(), width, height} {}
  COLORREF Read(int32_t x, int32_t y) const { return image.Read(x, y); }
  void Write(int32_t x, int32_t y, COLORREF c) {
    writes.push_back({x, y, c});
    image.Write(x, y, c);
  }
  void Set(int32_t x, int32_t y, COLORREF c) { image.Write(x, y, c); }

  // What the step takes: a view of this surface, passed by value.
  struct View {
    RecordingSurface *s;
    COLORREF Read(int32_t x, int32_t y) const { return s->Read(x, y); }
    void Write(int32_t x, int32_t y, COLORREF c) { s->Write(x, y, c); }
  };
  View view() { return {this}; }
  COLORREF At(int32_t x, int32_t y) const { return image.Read(x, y); }
};

TEST(RandomBelow, FollowsTheLinearCongruentialSequence) {
  // From seed 1, the generator's 15-bit outputs are the well-known sequence of this LCG.
  Reseed(1);
  const uint32_t expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (uint32_t value : expected) EXPECT_EQ(RandomBelow(32768, FakeClock), value);
  EXPECT_EQ(gClockCalls, 0u);
}

TEST(RandomBelow, ScalesIntoRangeAndAdvancesEvenForZero) {
  Reseed(1);
  EXPECT_EQ(RandomBelow(100, FakeClock), (100u * 41) >> 15);
  EXPECT_EQ(RandomBelow(0, FakeClock), 0u);  // consumed 18467
  EXPECT_EQ(RandomBelow(32768, FakeClock), 6334u);
  for (uint32_t n : {1u, 2u, 7u, 1920u, 65536u}) {
    for (int i = 0; i < 2000; ++i) EXPECT_LT(RandomBelow(n, FakeClock), n);
  }
}

TEST(RandomBelow, SeedsFromTheClockWhenUnseededAndWhenTheStateReachesZero) {
  gEffectState.seed = 0;
  gClockCalls = 0;
  gClockValue = 1;
  EXPECT_EQ(RandomBelow(32768, FakeClock), 41u);
  EXPECT_EQ(gClockCalls, 1u);

  // The state that the next step turns into 0: s * 214013 + 2531011 = 0 (mod 2^32).
  uint32_t inverse = 1;
  for (int i = 0; i < 5; ++i) inverse *= 2 - 214013u * inverse;  // Newton's step, mod 2^32
  uint32_t toZero = (0u - 2531011u) * inverse;
  gEffectState.seed = toZero;
  RandomBelow(10, FakeClock);
  EXPECT_EQ(gEffectState.seed, 0u);
  EXPECT_EQ(gClockCalls, 1u);
  EXPECT_EQ(RandomBelow(32768, FakeClock), 41u);  // reseeded from the clock (1)
  EXPECT_EQ(gClockCalls, 2u);

  // Different start ticks draw different pixel sequences.
  gEffectState.seed = 0;
  gClockValue = 1000;
  uint32_t a = RandomBelow(65536, FakeClock);
  gEffectState.seed = 0;
  gClockValue = 1017;
  EXPECT_NE(RandomBelow(65536, FakeClock), a);
}

// Five samples whose channel sums are given, around a pixel that the bounds pin every sample
// to: the first write of the step is their average.
COLORREF FirstAverage(int32_t method, int32_t lossy, uint32_t redSum, uint32_t greenSum,
                      uint32_t blueSum) {
  RecordingSurface surface(3, 3);
  // Spread each sum over five channel values of at most 255; method 3 reads the upper
  // neighbour twice and the lower one not at all, so the same five roles are filled.
  auto share = [](uint32_t sum, int part) {
    uint32_t base = sum / 5, extra = sum % 5;
    return base + (static_cast<uint32_t>(part) < extra ? 1 : 0);
  };
  auto colour = [&](int part) {
    return Rgb(share(redSum, part), share(greenSum, part), share(blueSum, part));
  };
  if (method == SmearMelting) {
    // Above twice must hold equal values: give it the two equal shares.
    uint32_t r = redSum, g = greenSum, b = blueSum;
    // The upper share is a fifth rounded up (so the other three stay within 255), but never
    // more than half the sum.
    auto upper = [](uint32_t sum) { return sum == 1 ? 0 : (sum + 4) / 5; };
    uint32_t above = Rgb(upper(r), upper(g), upper(b));
    r -= 2 * upper(r), g -= 2 * upper(g), b -= 2 * upper(b);
    auto third = [](uint32_t sum, int part) {
      return sum / 3 + (static_cast<uint32_t>(part) < sum % 3 ? 1 : 0);
    };
    surface.Set(1, 0, above);
    surface.Set(0, 1, Rgb(third(r, 0), third(g, 0), third(b, 0)));
    surface.Set(2, 1, Rgb(third(r, 1), third(g, 1), third(b, 1)));
    surface.Set(1, 1, Rgb(third(r, 2), third(g, 2), third(b, 2)));
  } else {
    surface.Set(1, 1, colour(0));
    surface.Set(2, 1, colour(1));
    surface.Set(1, 0, colour(2));
    surface.Set(0, 1, colour(3));
    surface.Set(1, 2, colour(4));
  }
  Use(method, lossy);
  Reseed(7);
  SmearStep(surface.view(), 1, 1, 2, 2, FakeClock);
  EXPECT_EQ(surface.writes.size(), method == SmearFaster ? 5000u : 1000u);
  return surface.writes.at(0).c;
}

TEST(SmearStep, AveragesRoundToNearestOrTruncateForEverySum) {
  for (int32_t method : {SmearGradual, SmearFaster, SmearMelting}) {
    for (uint32_t sum = 0; sum <= 1275; ++sum) {
      uint32_t other = 1275 - sum;
      COLORREF rounded = FirstAverage(method, 0, sum, other, sum / 2);
      EXPECT_EQ(Red(rounded), static_cast<uint32_t>(std::floor(sum * 0.2 + 0.5))) << sum;
      EXPECT_EQ(Green(rounded), static_cast<uint32_t>(std::floor(other * 0.2 + 0.5))) << sum;
      EXPECT_EQ(Blue(rounded), static_cast<uint32_t>(std::floor((sum / 2) * 0.2 + 0.5)));
      COLORREF lossy = FirstAverage(method, 1, sum, other, sum / 2);
      EXPECT_EQ(Red(lossy), sum / 5);
      EXPECT_EQ(Green(lossy), other / 5);
      EXPECT_EQ(lossy >> 24, 0u);
    }
  }
  // The small sums spelled out: rounded 0,0,0,1,1 and lossy all 0.
  const uint32_t rounded[] = {0, 0, 0, 1, 1};
  for (uint32_t sum = 0; sum < 5; ++sum) {
    EXPECT_EQ(Red(FirstAverage(SmearGradual, 0, sum, 0, 0)), rounded[sum]);
    EXPECT_EQ(Red(FirstAverage(SmearGradual, 1, sum, 0, 0)), 0u);
  }
}

TEST(SmearStep, KeepsAUniformSurfaceExactlyAwayFromTheBorders) {
  const COLORREF colours[] = {Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(13, 200, 77), Rgb(254, 1, 128)};
  for (int32_t method : {SmearGradual, SmearFaster, SmearMelting}) {
    for (int32_t lossy : {0, 1}) {
      for (COLORREF c : colours) {
        RecordingSurface surface(40, 30, c);
        Use(method, lossy);
        Reseed(12345);
        for (int step = 0; step < 20; ++step) SmearStep(surface.view(), 1, 1, 39, 29, FakeClock);
        for (int32_t y = 0; y < 30; ++y)
          for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(surface.At(x, y), c) << x << "," << y;
      }
    }
  }
}

TEST(SmearStep, ReadsBlackOutsideTheSurfaceAndDropsWritesThere) {
  const COLORREF white = Rgb(255, 255, 255);
  // Pinned to the top-left corner: left and upper neighbours lie outside.
  struct Case {
    int32_t method;
    COLORREF expected;
  } cases[] = {
      {SmearGradual, Rgb(153, 153, 153)},  // 3 of 5 samples white
      {SmearFaster, Rgb(153, 153, 153)},
      {SmearMelting, Rgb(102, 102, 102)},  // the doubly counted upper sample is black
  };
  for (const Case &k : cases) {
    RecordingSurface surface(4, 4, white);
    Use(k.method, 0);
    Reseed(99);
    SmearStep(surface.view(), 0, 0, 1, 1, FakeClock);
    ASSERT_FALSE(surface.writes.empty());
    EXPECT_EQ(surface.writes[0].x, 0);
    EXPECT_EQ(surface.writes[0].y, 0);
    EXPECT_EQ(surface.writes[0].c, k.expected);
    if (k.method == SmearFaster) {
      // Right, above, left, below, in that order; the two outside are dropped by the surface.
      const int32_t order[][2] = {{0, 0}, {1, 0}, {0, -1}, {-1, 0}, {0, 1}};
      for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(surface.writes[i].x, order[i][0]);
        EXPECT_EQ(surface.writes[i].y, order[i][1]);
      }
      EXPECT_NE(surface.At(1, 0), white);
      EXPECT_NE(surface.At(0, 1), white);
    } else {
      EXPECT_EQ(surface.At(1, 0), white);  // methods 1 and 3 write only the centre
    }
    EXPECT_EQ(surface.At(3, 3), white);
  }
}

TEST(SmearStep, EveryWriteIsSeenByTheSamplesAfterIt) {
  // One white pixel among black ones, every sample pinned to it: each write feeds the next.
  RecordingSurface surface(3, 3);
  surface.Set(1, 1, Rgb(255, 255, 255));
  Use(SmearGradual, 0);
  Reseed(5);
  SmearStep(surface.view(), 1, 1, 2, 2, FakeClock);
  ASSERT_EQ(surface.writes.size(), 1000u);
  EXPECT_EQ(Red(surface.writes[0].c), 51u);
  EXPECT_EQ(Red(surface.writes[1].c), 10u);  // 51 / 5 rounded
  EXPECT_EQ(Red(surface.writes[2].c), 2u);
  EXPECT_EQ(surface.At(1, 1), 0u);
}

TEST(SmearStep, ZeroWidthOrHeightPinsSamplesToAColumnOrARow) {
  Use(SmearGradual, 0);
  RecordingSurface column(10, 10, Rgb(90, 90, 90));
  Reseed(3);
  SmearStep(column.view(), 4, 0, 4, 10, FakeClock);
  bool rowsVary = false;
  for (const LoggedWrite &w : column.writes) {
    EXPECT_EQ(w.x, 4);
    EXPECT_GE(w.y, 0);
    EXPECT_LT(w.y, 10);
    rowsVary |= w.y != column.writes[0].y;
  }
  EXPECT_TRUE(rowsVary);

  RecordingSurface row(10, 10, Rgb(90, 90, 90));
  Reseed(3);
  SmearStep(row.view(), 0, 6, 10, 6, FakeClock);
  for (const LoggedWrite &w : row.writes) EXPECT_EQ(w.y, 6);

  RecordingSurface point(10, 10, Rgb(90, 90, 90));
  Reseed(3);
  SmearStep(point.view(), 2, 8, 2, 8, FakeClock);
  for (const LoggedWrite &w : point.writes) {
    EXPECT_EQ(w.x, 2);
    EXPECT_EQ(w.y, 8);
  }
  // The generator advanced twice per sample all the same.
  uint32_t expected = 3;
  for (int i = 0; i < 2 * kSamplesPerStep; ++i) expected = expected * 214013u + 2531011u;
  EXPECT_EQ(gEffectState.seed, expected);
}

TEST(SmearStep, SmearsAnEmptySurfaceWithoutTouchingMemory) {
  ImageSurface empty{nullptr, 0, 0};
  Use(SmearFaster, 0);
  Reseed(8);
  SmearStep(empty, 0, 0, 0, 0, FakeClock);
  SmearStep(empty, 0, 0, 5, 5, FakeClock);  // bounds larger than the surface
  EXPECT_EQ(empty.Read(0, 0), CLR_INVALID);
}

uint64_t ChannelTotal(const RecordingSurface &s, int32_t x, int32_t y) {
  uint64_t total = 0;
  const int32_t around[][2] = {{0, 0}, {1, 0}, {0, -1}, {-1, 0}, {0, 1}};
  for (const auto &d : around) {
    COLORREF c = s.At(x + d[0], y + d[1]);
    total += Red(c) + Green(c) + Blue(c);
  }
  return total;
}

TEST(SmearStep, RoundedFasterKeepsTheTotalWhileLossyLosesIt) {
  for (int32_t lossy : {0, 1}) {
    for (uint32_t seed = 1; seed < 200; ++seed) {
      RecordingSurface surface(3, 3);
      gEffectState.seed = seed * 7919;
      for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) surface.Set(x, y, RandomBelow(1u << 15, FakeClock) * 511);
      uint64_t before = ChannelTotal(surface, 1, 1);
      // Only the first sample is measured, so stop the surface from taking any more.
      struct FirstOnly {
        RecordingSurface &s;
        COLORREF Read(int32_t x, int32_t y) const {
          return s.writes.size() >= 5 ? 0 : s.Read(x, y);
        }
        void Write(int32_t x, int32_t y, COLORREF c) {
          if (s.writes.size() < 5)
            s.Write(x, y, c);
          else
            s.writes.push_back({x, y, c});
        }
      } first{surface};
      Use(SmearFaster, lossy);
      Reseed(seed);
      SmearStep(first, 1, 1, 2, 2, FakeClock);
      int64_t change =
          static_cast<int64_t>(ChannelTotal(surface, 1, 1)) - static_cast<int64_t>(before);
      if (lossy) {
        EXPECT_LE(change, 0);
        EXPECT_GE(change, -12);  // up to 4 per channel
      } else {
        EXPECT_LE(std::llabs(change), 6);  // within 2 per channel
      }
    }
  }
}

double MeanBrightness(const RecordingSurface &s) {
  double total = 0;
  for (uint32_t p : s.pixels) total += (p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF);
  return total / s.pixels.size();
}

TEST(SmearStep, LossyDarkensANoisyPictureAndRoundedDoesNot) {
  double mean[2];
  for (int32_t lossy : {0, 1}) {
    RecordingSurface surface(64, 64);
    gEffectState.seed = 4242;
    for (uint32_t &p : surface.pixels)
      p = RandomBelow(1u << 15, FakeClock) * 512 + RandomBelow(256, FakeClock);
    double start = MeanBrightness(surface);
    Use(SmearGradual, lossy);
    Reseed(77);
    for (int step = 0; step < 50; ++step) SmearStep(surface.view(), 1, 1, 63, 63, FakeClock);
    mean[lossy] = MeanBrightness(surface) - start;
  }
  // About 13 writes per pixel, each losing 0.4 of a level per channel on average.
  EXPECT_LT(mean[1], mean[0] - 8);
  EXPECT_LT(std::abs(mean[0]), 3);
}

TEST(SmearStep, MeltingRunsColourDownwards) {
  // Red above blue: with Melting, red spreads far below the edge and blue hardly rises.
  auto spread = [](int32_t method, int32_t &redBelow, int32_t &blueAbove) {
    RecordingSurface surface(32, 64);
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 0; x < 32; ++x) surface.Set(x, y, y < 32 ? Rgb(255, 0, 0) : Rgb(0, 0, 255));
    Use(method, 0);
    Reseed(2024);
    for (int step = 0; step < 200; ++step) SmearStep(surface.view(), 1, 1, 31, 63, FakeClock);
    redBelow = blueAbove = 0;
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 1; x < 31; ++x) {
        COLORREF c = surface.At(x, y);
        if (y >= 32)
          redBelow += Red(c);
        else
          blueAbove += Blue(c);
      }
  };
  int32_t redBelow, blueAbove;
  spread(SmearMelting, redBelow, blueAbove);
  EXPECT_GT(redBelow, 3 * blueAbove);
  int32_t gradualRed, gradualBlue;
  spread(SmearGradual, gradualRed, gradualBlue);
  EXPECT_LT(std::abs(gradualRed - gradualBlue), (gradualRed + gradualBlue) / 3);
}

// The step draws all its coordinates ahead of its samples; it must come out exactly where the
// step that draws each sample's coordinates just before it does: the same writes in the same
// order, the same pixels, the same generator state and clock calls, for every method and
// average, on bounds that reach the borders, lie partly outside, pin the samples to a line or
// a point, are larger than the surface, are turned inside out, or cover nothing.
struct Bounds {
  int32_t width, height;             // of the surface
  int32_t left, top, right, bottom;  // of the step
};

const Bounds kStepBounds[] = {
    {64, 48, 0, 0, 64, 48},       {64, 48, 1, 1, 63, 47},
    {64, 48, -3, -2, 67, 50},     {1, 1, 0, 0, 1, 1},
    {2, 2, 0, 0, 2, 2},           {3, 1, 0, 0, 3, 1},
    {1, 3, 0, 0, 1, 3},           {10, 10, 4, 0, 4, 10},
    {10, 10, 0, 6, 10, 6},        {10, 10, 2, 8, 2, 8},
    {10, 10, 9, 9, 10, 10},       {10, 10, 0, 0, 0, 0},
    {0, 0, 0, 0, 5, 5},           {7, 5, 6, 4, 1, 1},
    {7, 5, 127, -128, -128, 127}, {1920, 1080, 0, 0, 1920, 1080},
};

// A noisy picture of its own generator, so that the step's generator is left alone.
std::vector<uint32_t> Picture(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  for (uint32_t &p : pixels) {
    seed = seed * 1664525u + 1013904223u;
    p = seed >> 8;
  }
  return pixels;
}

// The state that the generator's next step turns into 0, so that it reseeds from the clock.
uint32_t StateBeforeZero() {
  uint32_t inverse = 1;
  for (int i = 0; i < 5; ++i) inverse *= 2 - 214013u * inverse;  // Newton's step, mod 2^32
  return (0u - 2531011u) * inverse;
}

TEST(SmearStep, MatchesTheInOrderStepBitForBit) {
  const uint32_t seeds[] = {1, 0x9E3779B9u, StateBeforeZero()};
  for (const Bounds &b : kStepBounds) {
    for (int32_t method : {SmearGradual, SmearFaster, SmearMelting}) {
      for (int32_t lossy : {0, 1}) {
        for (uint32_t seed : seeds) {
          SCOPED_TRACE(::testing::Message()
                       << b.width << "x" << b.height << " bounds " << b.left << "," << b.top << "-"
                       << b.right << "," << b.bottom << " method " << method << " lossy " << lossy
                       << " seed " << seed);
          Use(method, lossy);
          const int steps = b.width * b.height > 100000 ? 2 : 4;
          std::vector<uint32_t> picture = Picture(b.width, b.height, seed + 17);

          // The write logs, one surface each.
          RecordingSurface reference(b.width, b.height), drawn(b.width, b.height);
          reference.pixels = drawn.pixels = picture;
          Reseed(seed);
          for (int i = 0; i < steps; ++i)
            InOrderSmearStep(reference.view(), b.left, b.top, b.right, b.bottom, FakeClock);
          uint32_t referenceSeed = gEffectState.seed, referenceClockCalls = gClockCalls;
          Reseed(seed);
          for (int i = 0; i < steps; ++i)
            SmearStep(drawn.view(), b.left, b.top, b.right, b.bottom, FakeClock);
          EXPECT_EQ(gEffectState.seed, referenceSeed);
          EXPECT_EQ(gClockCalls, referenceClockCalls);
          ASSERT_EQ(drawn.writes.size(), reference.writes.size());
          size_t firstDifferent = 0;
          while (firstDifferent < drawn.writes.size() &&
                 drawn.writes[firstDifferent].x == reference.writes[firstDifferent].x &&
                 drawn.writes[firstDifferent].y == reference.writes[firstDifferent].y &&
                 drawn.writes[firstDifferent].c == reference.writes[firstDifferent].c)
            ++firstDifferent;
          EXPECT_EQ(firstDifferent, drawn.writes.size()) << "writes part at this one";

          // The working image itself, whose rows the step touches ahead: exact-size buffers,
          // so a touch outside the image is caught by the sanitizer.
          std::vector<uint32_t> image = picture;
          ImageSurface surface = {image.empty() ? nullptr : image.data(), b.width, b.height};
          Reseed(seed);
          for (int i = 0; i < steps; ++i) {
            std::vector<uint32_t> was = image;
            uint32_t changed = SmearStep(surface, b.left, b.top, b.right, b.bottom, FakeClock);
            EXPECT_TRUE(changed != 0 || image == was) << "a change went unreported";
          }
          EXPECT_EQ(gEffectState.seed, referenceSeed);
          EXPECT_TRUE(image == reference.pixels) << "the image differs";
          // A black picture, the end of every melt: no step changes it, and each says so.
          std::fill(image.begin(), image.end(), 0u);
          EXPECT_EQ(SmearStep(surface, b.left, b.top, b.right, b.bottom, FakeClock), 0u);
        }
      }
    }
  }
}

// What a frame is taken to cost after one more reading, and the interval that follows; and
// the span of a frame by the performance counter.
struct FrameCostCase {
  uint32_t averageUs, readingUs, smoothedUs, intervalMs;
};
const FrameCostCase kFrameCosts[] = {
    {0, 2000, 125, 100},            // the first reading counts a sixteenth
    {500, 600, 506, 100},           // 1920x1080, a little slower once
    {2100, 2100, 2100, 252},        // 3840x2160: further apart
    {2100, 500, 1300, 156},         // a cheaper frame: halfway down
    {500, 16000, 1468, 176},        // one step of the tick count
    {500, 0xFFFFFFFFu, 6718, 806},  // across a suspension: 100 ms
    {40000, 40000, 40000, 1000},    // a display of 1995: still once a second
};
struct CounterCase {
  uint64_t start, end, frequency;
  uint32_t us;
};
const CounterCase kCounterSpans[] = {
    {1000, 21000, 10000000, 2000},                // Wine, Windows of today: 10 MHz
    {0, 2500, 1193182, 2095},                     // the timer chip: 2095.2
    {0xFFFFFF00u, 0x100001E40u, 10000000, 800},   // across the low word's wrap
    {7, 12000007, 6000000000u, 2000},             // a processor's clock of 6 GHz
    {5000, 4000, 10000000, 0},                    // the counter went back
    {0, 10000000, 10000000, kLongestFrameCostUs}  // a second
};

TEST(FramePacing, SmoothsTheCostOfFramesAndSpacesThemByIt) {
  for (const FrameCostCase &c : kFrameCosts) {
    uint32_t smoothed = SmoothedFrameCostUs(c.averageUs, c.readingUs);
    EXPECT_EQ(smoothed, c.smoothedUs) << c.averageUs << " then " << c.readingUs;
    EXPECT_EQ(FrameIntervalMs(smoothed), c.intervalMs) << smoothed;
    // However unlucky, one reading holds the next frame back by less than a second.
    EXPECT_LT(FrameIntervalMs(smoothed), FrameIntervalMs(c.averageUs) + 1000);
  }
  for (const CounterCase &c : kCounterSpans)
    EXPECT_EQ(CounterSpanUs(c.start, c.end, c.frequency), c.us) << c.end - c.start;
  EXPECT_EQ(TickSpanUs(0xFFFFFFF0u, 6), 22000u);
  EXPECT_EQ(TickSpanUs(0, 5000000), kLongestFrameCostUs);
}

// The pace counted from the 0 ms timer's ticks (Windows 95, NT, Wine, a busy first second, a
// flood of posted ticks) and what wakes owe at it after gaps of 0, 110, 110 and 5000 ms.
struct PaceCase {
  uint32_t ticks, elapsedMs, pace, clockMs, wakeMs, owed[4], carried;
} const kPaces[] = {{19, 1045, 18, kWin95ClockMs, 110, {0, 1, 2, 3}, 960},
                    {64, 1000, 64, 1, 100, {0, 7, 7, 12}, 800},
                    {101, 1003, 100, 1, 100, {0, 11, 11, 20}, 0},
                    {3, 1000, kSlowestPace, 1, 100, {0, 1, 1, 2}, 0},
                    {9000, 1000, kFastestPace, 1, 100, {0, 11, 11, 20}, 0}};
TEST(StepPacing, CountsThePaceAndOwesStepsForTheTimeElapsed) {
  for (const PaceCase &c : kPaces) {
    EXPECT_EQ(CountedPace(c.ticks, c.elapsedMs), c.pace) << c.ticks;
    EXPECT_EQ(WakeIntervalMs(100, c.clockMs), c.wakeMs) << c.ticks;
    uint32_t carry = 0, gaps[] = {0, 110, 110, 5000}, steps = 0;
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(StepsOwed(c.pace, gaps[i], c.wakeMs, &carry), c.owed[i]) << c.pace << " " << i;
    EXPECT_EQ(carry, c.carried) << c.pace;
    // The remainder carried: 1000 wakes of 110 ms owe 110 s of steps, none lost to rounding.
    for (int i = 0; i < 1000; ++i) steps += StepsOwed(c.pace, 110, c.wakeMs, &carry);
    EXPECT_EQ(steps, c.pace * 110) << c.pace;
  }
  EXPECT_EQ(WakeIntervalMs(252, kWin95ClockMs), 275u);  // a dear frame's wakes, whole ticks
}

}  // namespace
