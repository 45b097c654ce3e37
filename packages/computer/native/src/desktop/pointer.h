// Where the pointer goes and which button it presses, in the terms both the
// requests and the input primitives use.
#pragma once

namespace kestrum::computer {

enum class MouseButton { kLeft, kRight, kMiddle };

// A position in global display points.
struct Point {
  double x = 0;
  double y = 0;
};

}  // namespace kestrum::computer
