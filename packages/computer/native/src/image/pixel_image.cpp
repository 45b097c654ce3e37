#include "image/pixel_image.h"

#include <new>
#include <string>

namespace kestrum::computer {

std::optional<std::uint64_t> pixel_bytes(std::uint64_t width, std::uint64_t height) {
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(width, height, &count)) return std::nullopt;
  if (__builtin_mul_overflow(count, std::uint64_t{4}, &bytes)) return std::nullopt;
  return bytes;
}

bool fits_in_answer(std::uint64_t width, std::uint64_t height) {
  const std::optional<std::uint64_t> bytes = pixel_bytes(width, height);
  return bytes && *bytes <= kMaxImageBytes;
}

Result<PixelImage> black_image(std::uint64_t width, std::uint64_t height) {
  if (!fits_in_answer(width, height)) return fail(std::string(kImageTooLarge));
  const std::uint64_t bytes = *pixel_bytes(width, height);
  PixelImage image{{}, width, height};
  try {
    image.pixels.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    return fail(std::string(kImageTooLarge));
  }
  for (std::uint64_t alpha = 3; alpha < bytes; alpha += 4) image.pixels[alpha] = 255;
  return image;
}

}  // namespace kestrum::computer
