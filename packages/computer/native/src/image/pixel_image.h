// The image a capture answer carries: rows top to bottom, pixels left to
// right, four bytes each in the captured order (blue, green, red, alpha),
// no padding, alpha always 255. The bytes go out as the payload unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kestrum::computer {

struct PixelImage {
  // Exactly width × height × 4 bytes. The vector is the payload's own type,
  // so an answer takes the pixels over without a copy.
  std::vector<std::uint8_t> pixels;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// An answer carries its payload behind a 4-byte length, so no image it can
// carry has more bytes than this.
inline constexpr std::uint64_t kMaxImageBytes = 0xFFFFFFFF;

inline constexpr std::string_view kImageTooLarge = "the screen image is too large";

// width × height × 4, or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> pixel_bytes(std::uint64_t width, std::uint64_t height);

// True when an image of this size has at most kMaxImageBytes bytes.
bool fits_in_answer(std::uint64_t width, std::uint64_t height);

// Every pixel the bytes 0, 0, 0, 255; a size with no pixels gives no bytes.
// Fails with kImageTooLarge when the image does not fit in an answer or
// memory for it runs out.
Result<PixelImage> black_image(std::uint64_t width, std::uint64_t height);

}  // namespace kestrum::computer
