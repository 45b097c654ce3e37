#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/conversion.h"
#include "image/downscale.h"
#include "image/pixel_image.h"

namespace kestrum::computer {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

Bytes counting(std::size_t length) {
  Bytes bytes(length);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

Bytes random_bytes(std::size_t length, std::mt19937& random) {
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() & 0xFF);
  return bytes;
}

PixelImage random_image(std::uint64_t width, std::uint64_t height, std::mt19937& random) {
  return {random_bytes(width * height * 4, random), width, height};
}

// The block-average rule read literally, one output byte at a time with
// 64-bit sums and plain division: what the real one must match byte for
// byte, however it gets there.
PixelImage reference_downscale(const PixelImage& in, std::uint64_t max_side) {
  const std::uint64_t w = in.width, h = in.height, longer = std::max(w, h);
  if (max_side == 0 || longer <= max_side) return in;
  const std::uint64_t nw = std::max<std::uint64_t>((w * max_side + longer - 1) / longer, 1);
  const std::uint64_t nh = std::max<std::uint64_t>((h * max_side + longer - 1) / longer, 1);
  PixelImage out{{}, nw, nh};
  for (std::uint64_t oy = 0; oy < nh; ++oy) {
    const std::uint64_t y0 = oy * h / nh, y1 = std::max((oy + 1) * h / nh, y0 + 1);
    for (std::uint64_t ox = 0; ox < nw; ++ox) {
      const std::uint64_t x0 = ox * w / nw, x1 = std::max((ox + 1) * w / nw, x0 + 1);
      for (std::uint64_t c = 0; c < 4; ++c) {
        std::uint64_t sum = 0;
        for (std::uint64_t y = y0; y < y1; ++y)
          for (std::uint64_t x = x0; x < x1; ++x) sum += in.pixels[(y * w + x) * 4 + c];
        out.pixels.push_back(static_cast<std::uint8_t>(sum / ((x1 - x0) * (y1 - y0))));
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------- conversion

struct ConversionCase {
  const char* name;
  CaptureDescription capture;
  std::optional<Bytes> pixels;  // absent: `error` is expected
  std::string error = {};
};

TEST(ImageFromCapture, KeepsEachRowsPixelsAndChecksTheShape) {
  const std::string not32(kCaptureNot32Bits), none(kCaptureNoPixels), short_(kCaptureTooShort);
  const ConversionCase cases[] = {
      {"row padding dropped",
       {4, 2, 32, 32, counting(64)},
       Bytes{0,  1,  2,  255, 4,  5,  6,  255, 8,  9,  10, 255, 12, 13, 14, 255,
             32, 33, 34, 255, 36, 37, 38, 255, 40, 41, 42, 255, 44, 45, 46, 255}},
      {"alpha forced, colours kept",
       {2, 1, 8, 32, Bytes{10, 20, 30, 0, 40, 50, 60, 7}},
       Bytes{10, 20, 30, 255, 40, 50, 60, 255}},
      {"exactly height × bytes per row",
       {1, 2, 8, 32, counting(16)},
       Bytes{0, 1, 2, 255, 8, 9, 10, 255}},
      {"bytes after the last row dropped", {1, 1, 4, 32, counting(9)}, Bytes{0, 1, 2, 255}},
      {"24 bits per pixel", {2, 1, 8, 24, counting(8)}, std::nullopt, not32},
      {"64 bits per pixel", {1, 1, 8, 64, counting(8)}, std::nullopt, not32},
      {"rows narrower than the pixels", {2, 1, 7, 32, counting(8)}, std::nullopt, not32},
      {"shape checked before data", {2, 1, 8, 24, std::nullopt}, std::nullopt, not32},
      {"no data", {1, 1, 4, 32, std::nullopt}, std::nullopt, none},
      {"one byte short", {1, 2, 8, 32, counting(15)}, std::nullopt, short_},
      {"empty data", {1, 1, 4, 32, Bytes{}}, std::nullopt, short_},
      {"width × 4 past 64 bits", {kMax / 2, 1, kMax, 32, counting(8)}, std::nullopt, not32},
      {"height × bytes per row past 64 bits",
       {1, kMax / 4, 8, 32, counting(8)},
       std::nullopt,
       short_},
      {"zero width, huge height", {0, kMax, 0, 32, Bytes{}}, Bytes{}},
      {"zero height", {3, 0, 12, 32, Bytes{}}, Bytes{}},
      {"zero width still needs data", {0, 1, 0, 32, std::nullopt}, std::nullopt, none},
  };
  for (const auto& c : cases) {
    Result<PixelImage> got = image_from_capture(c.capture);
    if (!c.pixels) {
      ASSERT_FALSE(got.ok()) << c.name;
      EXPECT_EQ(got.error(), c.error) << c.name;
      continue;
    }
    ASSERT_TRUE(got.ok()) << c.name << ": " << got.error();
    EXPECT_EQ(got->pixels, *c.pixels) << c.name;
    EXPECT_EQ(got->width, c.capture.width) << c.name;
    EXPECT_EQ(got->height, c.capture.height) << c.name;
  }
}

TEST(ImageFromCapture, PaddedCaptureMatchesRowByRowCopy) {
  std::mt19937 random(7);
  const struct {
    std::uint64_t width, height, padding;
  } cases[] = {{3024, 4, 64}, {5, 7, 3}, {1, 300, 0}, {33, 9, 1}};
  for (const auto& c : cases) {
    const std::uint64_t row = c.width * 4 + c.padding;
    const Bytes data = random_bytes(row * c.height, random);
    Bytes want;
    for (std::uint64_t y = 0; y < c.height; ++y) {
      for (std::uint64_t x = 0; x < c.width * 4; ++x)
        want.push_back(x % 4 == 3 ? 255 : data[y * row + x]);
    }
    Result<PixelImage> got = image_from_capture({c.width, c.height, row, 32, data});
    ASSERT_TRUE(got.ok()) << c.width << "x" << c.height;
    EXPECT_EQ(got->pixels, want) << c.width << "x" << c.height << " padding " << c.padding;
  }
}

// ---------------------------------------------------------------- black image

TEST(BlackImage, EveryPixelOpaqueBlack) {
  const struct {
    std::uint64_t width, height;
    Bytes want;
  } cases[] = {
      {0, 0, {}},
      {2, 1, {0, 0, 0, 255, 0, 0, 0, 255}},
      {1, 2, {0, 0, 0, 255, 0, 0, 0, 255}},
      {3, 1, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}},
      {0, 5, {}},
      {4, 0, {}},
  };
  for (const auto& c : cases) {
    const PixelImage image = black_image(c.width, c.height).value();
    EXPECT_EQ(image.pixels, c.want) << c.width << "x" << c.height;
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
  }
}

// Checked before anything is allocated: no answer could carry these.
TEST(BlackImage, SizeBeyondWhatAnAnswerCarriesIsAnError) {
  const struct {
    std::uint64_t width, height;
  } cases[] = {
      {kMax / 4 + 1, 1},                                 // the byte count passes 64 bits
      {std::uint64_t{1} << 32, std::uint64_t{1} << 32},  // so does the pixel count
      {1'000'000, 1'000'000},                            // 4 TB
      {32768, 32768},                                    // one byte past the 4-byte length
  };
  for (const auto& c : cases) {
    const auto image = black_image(c.width, c.height);
    ASSERT_FALSE(image.ok()) << c.width << "x" << c.height;
    EXPECT_EQ(image.error(), "the screen image is too large");
  }
}

// ---------------------------------------------------------------- downscale

TEST(Downscale, WorkedSizes) {
  const struct {
    std::uint64_t width, height, max_side, want_width, want_height;
  } cases[] = {
      {2880, 1800, 0, 2880, 1800},
      {2880, 1800, 2880, 2880, 1800},
      {2880, 1800, 1000, 1000, 625},
      {3024, 1964, 1280, 1280, 832},
      {1920, 1080, 1919, 1919, 1080},
      {5, 3, 2, 2, 2},
      {1, 4000, 3, 1, 3},
      {2880, 1800, 1, 1, 1},
      {1800, 2880, 1000, 625, 1000},
      {3, 5, 2, 2, 2},
      {4000, 1, 3, 3, 1},
      {10, 10, kMax, 10, 10},
  };
  for (const auto& c : cases) {
    const PixelImage got = downscale(black_image(c.width, c.height).value(), c.max_side);
    EXPECT_EQ(got.width, c.want_width) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_EQ(got.height, c.want_height) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_EQ(got.pixels, black_image(c.want_width, c.want_height)->pixels)
        << c.width << "x" << c.height << " to " << c.max_side;
  }
}

TEST(Downscale, ImageWithinTheLimitIsReturnedAsItIs) {
  std::mt19937 random(3);
  for (const std::uint64_t max_side : {std::uint64_t{0}, std::uint64_t{7}, kMax}) {
    PixelImage image = random_image(7, 5, random);
    const Bytes before = image.pixels;
    const std::uint8_t* buffer = image.pixels.data();
    const PixelImage got = downscale(std::move(image), max_side);
    EXPECT_EQ(got.pixels.data(), buffer) << max_side;
    EXPECT_EQ(got.pixels, before) << max_side;
  }
}

// Blocks for 2 × 2: columns 0–1 and 2–4, rows 0 and 1–2. Bytes of pixel
// (x, y): x + 10y; 255 where x + y is odd; 50y + 3x; 255 − x.
PixelImage five_by_three() {
  PixelImage image{{}, 5, 3};
  for (std::uint64_t y = 0; y < 3; ++y) {
    for (std::uint64_t x = 0; x < 5; ++x) {
      image.pixels.insert(
          image.pixels.end(),
          {static_cast<std::uint8_t>(x + 10 * y), static_cast<std::uint8_t>((x + y) % 2 ? 255 : 0),
           static_cast<std::uint8_t>(50 * y + 3 * x), static_cast<std::uint8_t>(255 - x)});
    }
  }
  return image;
}

TEST(Downscale, BlockAveragesTruncate) {
  struct {
    const char* name;
    PixelImage in;
    std::uint64_t max_side;
    Bytes want;
  } cases[] = {
      {"5x3 to 2",
       five_by_three(),
       2,
       {0, 127, 1, 254, 3, 85, 9, 252, 15, 127, 76, 254, 18, 127, 84, 252}},
      {"0 and 255 give 127", {{0, 0, 0, 255, 255, 0, 0, 255}, 2, 1}, 1, {127, 0, 0, 255}},
      {"max side 1 averages everything",
       {{1, 10, 100, 255, 2, 20, 200, 255, 3, 30, 0, 255,
         4, 40, 1,   255, 5, 50, 2,   255, 6, 60, 3, 255},
        3,
        2},
       1,
       {3, 35, 51, 255}},
  };
  for (auto& c : cases) {
    const PixelImage got = downscale(std::move(c.in), c.max_side);
    EXPECT_EQ(got.pixels, c.want) << c.name;
  }
}

TEST(Downscale, MatchesTheLiteralRuleForEverySmallSizeAndLimit) {
  std::mt19937 random(11);
  for (std::uint64_t w = 1; w <= 13; ++w) {
    for (std::uint64_t h = 1; h <= 13; ++h) {
      const PixelImage image = random_image(w, h, random);
      for (std::uint64_t max_side = 1; max_side < std::max(w, h); ++max_side) {
        const PixelImage want = reference_downscale(image, max_side);
        const PixelImage got = downscale(image, max_side);
        ASSERT_EQ(got.width, want.width) << w << "x" << h << " to " << max_side;
        ASSERT_EQ(got.height, want.height) << w << "x" << h << " to " << max_side;
        ASSERT_EQ(got.pixels, want.pixels) << w << "x" << h << " to " << max_side;
      }
    }
  }
}

TEST(Downscale, MatchesTheLiteralRuleOnLargeImages) {
  std::mt19937 random(5);
  const struct {
    std::uint64_t width, height, max_side;
  } cases[] = {{3024, 1964, 1280}, {2880, 1800, 1}, {1440, 900, 7},    {1000, 3, 999},
               {3, 1000, 10},      {97, 61, 60},    {1024, 1024, 1023}};
  for (const auto& c : cases) {
    const PixelImage image = random_image(c.width, c.height, random);
    const PixelImage want = reference_downscale(image, c.max_side);
    const PixelImage got = downscale(image, c.max_side);
    EXPECT_EQ(got.width, want.width) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_EQ(got.height, want.height) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_TRUE(got.pixels == want.pixels) << c.width << "x" << c.height << " to " << c.max_side;
  }
}

// A column of `count` pixels whose byte c sums to sums[c], each sum at most
// 255 × count: full bytes first, then the remainder, then zeros.
PixelImage column_with_sums(std::uint64_t count, const std::uint64_t (&sums)[4]) {
  PixelImage image{Bytes(count * 4, 0), 1, count};
  for (std::uint64_t c = 0; c < 4; ++c) {
    const std::uint64_t full = sums[c] / 255;
    for (std::uint64_t i = 0; i < full; ++i) image.pixels[i * 4 + c] = 255;
    if (full < count) image.pixels[full * 4 + c] = static_cast<std::uint8_t>(sums[c] % 255);
  }
  return image;
}

// Sums just below, at and just above multiples of the block size, for
// blocks small and large, where a sum or a quotient taken with too few bits
// or too coarse a reciprocal would come out one off or wrap.
TEST(Downscale, WholeBlockQuotientsAreExactAtTheirEdges) {
  const std::uint64_t blocks[] = {2,       3,        4,        5,        6,       9,     15,
                                  16,      17,       255,      256,      257,     65535, 65537,
                                  1000003, 11886522, 11886523, 16843009, 16843010};
  for (const std::uint64_t d : blocks) {
    const std::uint64_t sets[2][4] = {{255 * d - 1, 255 * d, 128 * d - 1, d - 1},
                                      {d, 127 * d + d - 1, 0, 200 * d + 1}};
    const Bytes wants[2] = {{254, 255, 127, 0}, {1, 127, 0, 200}};
    for (int set = 0; set < 2; ++set) {
      const PixelImage got = downscale(column_with_sums(d, sets[set]), 1);
      ASSERT_EQ(got.height, 1u) << d;
      EXPECT_EQ(got.pixels, wants[set]) << "block of " << d << ", set " << set;
    }
  }
}

TEST(Downscale, SideOfZeroStaysZero) {
  const struct {
    std::uint64_t width, height, max_side, want_width, want_height;
  } cases[] = {
      {0, 5, 3, 0, 3}, {5, 0, 3, 3, 0}, {0, 5, 5, 0, 5}, {0, 5, 0, 0, 5}, {0, 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    const PixelImage got = downscale(PixelImage{{}, c.width, c.height}, c.max_side);
    EXPECT_EQ(got.width, c.want_width) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_EQ(got.height, c.want_height) << c.width << "x" << c.height << " to " << c.max_side;
    EXPECT_TRUE(got.pixels.empty());
  }
}

}  // namespace
}  // namespace kestrum::computer
