// The image a capture answer carries: rows top to bottom, pixels left to
// right, four bytes each in the captured order (blue, green, red, alpha),
// no padding, alpha always 255. The bytes go out as the payload unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrum::computer {

struct PixelImage {
  // Exactly width × height × 4 bytes. The vector is the payload's own type,
  // so an answer takes the pixels over without a copy.
  std::vector<std::uint8_t> pixels;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// Every pixel the bytes 0, 0, 0, 255; a size with no pixels gives no bytes.
// A size whose byte count does not fit in 64 bits throws std::length_error,
// as an allocation of that size would.
PixelImage black_image(std::uint64_t width, std::uint64_t height);

// width × height × 4, or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> pixel_bytes(std::uint64_t width, std::uint64_t height);

}  // namespace kestrum::computer
