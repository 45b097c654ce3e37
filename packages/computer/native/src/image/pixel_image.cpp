#include "image/pixel_image.h"

#include <stdexcept>

namespace kestrum::computer {

std::optional<std::uint64_t> pixel_bytes(std::uint64_t width, std::uint64_t height) {
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(width, height, &count)) return std::nullopt;
  if (__builtin_mul_overflow(count, std::uint64_t{4}, &bytes)) return std::nullopt;
  return bytes;
}

PixelImage black_image(std::uint64_t width, std::uint64_t height) {
  const std::optional<std::uint64_t> bytes = pixel_bytes(width, height);
  if (!bytes) throw std::length_error("black_image: size too large");
  PixelImage image{std::vector<std::uint8_t>(*bytes, 0), width, height};
  for (std::uint64_t alpha = 3; alpha < *bytes; alpha += 4) image.pixels[alpha] = 255;
  return image;
}

}  // namespace kestrum::computer
