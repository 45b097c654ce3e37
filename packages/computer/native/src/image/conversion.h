// Turning the system's captured image into a PixelImage. Runs inside the
// screenshot's completion handler on a thread of the system's choosing; it
// touches only what it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "image/pixel_image.h"

namespace kestrum::computer {

inline constexpr std::string_view kCaptureNot32Bits = "the capture does not use 32 bits per pixel";
inline constexpr std::string_view kCaptureNoPixels = "the capture has no pixels";
inline constexpr std::string_view kCaptureTooShort = "the capture is shorter than its size";

// The system's image as plain values, each filled from the getter of the
// same name on the captured image. `data` is the one copy of the provider's
// bytes; absent when there is no provider or it gives no data.
struct CaptureDescription {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t bytes_per_row = 0;
  std::uint64_t bits_per_pixel = 0;
  std::optional<std::vector<std::uint8_t>> data;
};

// Keeps the first width × 4 bytes of each of the first `height` rows and
// makes every pixel opaque. Fails, checking in this order, with
// kCaptureNot32Bits (bits per pixel other than 32, or rows narrower than
// width × 4 bytes), kCaptureNoPixels (no data), kCaptureTooShort (data
// shorter than height × bytes per row). The result takes over the data's
// buffer, with the rows moved down over the padding in place: no second
// buffer of the capture's size is ever allocated.
//
// An image with no pixels (width or height 0, which allows 0 bytes per
// row) passes the checks and gives an empty PixelImage of the reported
// width and height: the sizes still say what the system reported, and the
// buffer meets the width × height × 4 invariant.
Result<PixelImage> image_from_capture(CaptureDescription capture);

}  // namespace kestrum::computer
