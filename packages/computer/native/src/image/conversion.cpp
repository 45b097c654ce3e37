#include "image/conversion.h"

#include <cstring>
#include <string>

namespace kestrum::computer {
namespace {

// One pass per row while the row is still in cache: the row moves down to
// its packed place (the first row is already there) and gets its alpha.
void pack_row(std::uint8_t* to, const std::uint8_t* from, std::uint64_t row_bytes) {
  if (to != from) std::memmove(to, from, row_bytes);
  for (std::uint64_t pixel = 0; pixel < row_bytes; pixel += 4) {
    std::uint32_t value;
    std::memcpy(&value, to + pixel, 4);
    value |= 0xFF000000u;  // byte 3 of a little-endian word
    std::memcpy(to + pixel, &value, 4);
  }
}

}  // namespace

Result<PixelImage> image_from_capture(CaptureDescription capture) {
  std::uint64_t row_bytes = 0;
  // An overflowing product is larger than any 64-bit count it is compared
  // with, so overflow answers the comparison the same way exact
  // arithmetic would.
  const bool row_overflow = __builtin_mul_overflow(capture.width, std::uint64_t{4}, &row_bytes);
  if (capture.bits_per_pixel != 32 || row_overflow || capture.bytes_per_row < row_bytes)
    return fail(std::string(kCaptureNot32Bits));
  if (!capture.data) return fail(std::string(kCaptureNoPixels));
  std::vector<std::uint8_t>& data = *capture.data;
  std::uint64_t needed = 0;
  if (__builtin_mul_overflow(capture.height, capture.bytes_per_row, &needed) ||
      data.size() < needed)
    return fail(std::string(kCaptureTooShort));
  // Without this a zero-width image of huge height would walk empty rows
  // for a very long time.
  if (row_bytes == 0 || capture.height == 0) return PixelImage{{}, capture.width, capture.height};
  for (std::uint64_t row = 0; row < capture.height; ++row)
    pack_row(data.data() + row * row_bytes, data.data() + row * capture.bytes_per_row, row_bytes);
  data.resize(capture.height * row_bytes);
  return PixelImage{std::move(data), capture.width, capture.height};
}

}  // namespace kestrum::computer
