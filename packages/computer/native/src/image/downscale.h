// Shrinking a capture to the size a request allows, by averaging whole
// blocks of pixels. Integer arithmetic only, so every build gives the same
// bytes.
#pragma once

#include <cstdint>

#include "image/pixel_image.h"

namespace kestrum::computer {

// Returns `image` itself when max_side is 0 or its longer side is at most
// max_side. Otherwise the longer side becomes max_side, the other keeps the
// aspect ratio rounded up, and each output pixel is, byte by byte, the
// truncated average of the source block that maps onto it; the blocks tile
// the source. The source buffer is freed on return. `image` must hold
// exactly width × height × 4 bytes.
//
// A source with a side of 0 has no pixels to average. When its other side
// exceeds max_side, the answer is an empty image of the scaled size (the
// zero side stays 0, the other becomes max_side), so that the reported size
// still respects the limit and matches the empty buffer.
PixelImage downscale(PixelImage image, std::uint64_t max_side);

}  // namespace kestrum::computer
