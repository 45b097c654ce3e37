// "capture" through the built program and the simulated desktop: what the
// image shows, its size, and every failure text.
#include <gtest/gtest.h>

#include <array>

#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

// An 8 × 4-point display at scale 2: 16 × 8 pixels. Windows front to back:
// the server's own application, Notes, Mail, and a helper that runs as the
// server's own process.
std::string capture_scene(const std::string& display, const std::string& capture) {
  return R"({"display": )" + display + R"(,
    "apps": [{"pid": 12, "id": "com.kestrum.app"}, {"pid": 10, "id": "com.example.Mail"},
             {"pid": 11, "id": "com.example.Notes"}, {"pid": 500, "id": "com.example.Helper"}],
    "windows": [{"pid": 12, "x": 5, "y": 0, "width": 3, "height": 4, "color": [7, 8, 9]},
                {"pid": 11, "x": 2, "y": 1, "width": 3, "height": 2, "color": [4, 5, 6]},
                {"pid": 10, "x": 0, "y": 0, "width": 3, "height": 2, "color": [200, 100, 64]},
                {"pid": 500, "x": 0, "y": 3, "width": 2, "height": 1, "color": [10, 11, 12]}],
    "capture": )" +
         capture + "}";
}

const std::string kDisplay = R"({"width": 8, "height": 4, "pixelWidth": 16})";
const std::string kScreen = R"("screen":{"height":4.0,"width":8.0,"x":0.0,"y":0.0})";
const std::vector<std::string> kServeArgs = {"serve", "--own-pid", "500", "--own-app",
                                             "com.kestrum.app"};

struct Rect {
  int left, top, right, bottom;  // pixels, right and bottom excluded
  std::array<int, 3> color;      // blue, green, red
};
constexpr Rect kMail{0, 0, 6, 4, {200, 100, 64}};
constexpr Rect kNotes{4, 2, 10, 6, {4, 5, 6}};

// A 16 × 8 opaque image: black with `rects` painted in order.
std::string painted(std::initializer_list<Rect> rects) {
  std::string pixels;
  for (int i = 0; i < 16 * 8; ++i) pixels += std::string("\0\0\0\xff", 4);
  for (const Rect& rect : rects) {
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x) {
        for (int b = 0; b < 3; ++b)
          pixels[static_cast<std::size_t>((y * 16 + x) * 4 + b)] = static_cast<char>(rect.color[b]);
      }
    }
  }
  return pixels;
}

std::string black(std::size_t pixels) {
  std::string out;
  for (std::size_t i = 0; i < pixels; ++i) out += std::string("\0\0\0\xff", 4);
  return out;
}

std::string success(std::uint64_t id, int width, int height, const std::string& screen = kScreen) {
  return R"({"height":)" + std::to_string(height) + R"(,"id":)" + std::to_string(id) +
         R"(,"ok":true,)" + screen + R"(,"width":)" + std::to_string(width) + "}";
}

std::string failure(std::uint64_t id, const std::string& text) {
  return R"({"error":")" + text + R"(","id":)" + std::to_string(id) + R"(,"ok":false})";
}

struct Step {
  std::string capture;  // the scene's "capture" member
  std::string grants;   // the "apps" of a grant before the capture
  std::uint64_t max_side;
  std::string error;  // empty for a success
  int width, height;
  std::string payload;
};

void run_steps(const std::vector<Step>& steps, const std::string& display = kDisplay) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, capture_scene(display, "{}"));
  ServerProcess process({kServeArgs, scene});
  std::uint64_t id = 0;
  for (const Step& step : steps) {
    replace_file(scene, capture_scene(display, step.capture));
    process.send(R"({"id":0,"op":"grant","apps":)" + step.grants + "}\n");
    ASSERT_EQ(process.read_json(), R"({"id":0,"ok":true})") << step.grants;
    ++id;
    process.send(R"({"id":)" + std::to_string(id) + R"(,"op":"capture","maxSide":)" +
                 std::to_string(step.max_side) + "}\n");
    const std::optional<Frame> frame = process.read_frame();
    ASSERT_TRUE(frame);
    const std::string want =
        step.error.empty() ? success(id, step.width, step.height) : failure(id, step.error);
    EXPECT_EQ(frame->json, want) << step.capture << " " << step.grants;
    EXPECT_EQ(frame->payload, step.payload) << step.capture << " " << step.grants;
  }
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

TEST(CaptureServe, ShowsOnlyGrantedApplicationsAndNeverItsOwn) {
  run_steps({
      {"{}", "[]", 0, "", 16, 8, painted({})},
      {"{}", R"(["com.example.Mail"])", 0, "", 16, 8, painted({kMail})},
      {"{}", R"(["com.example.Notes"])", 0, "", 16, 8, painted({kNotes})},
      // Back to front: Notes covers Mail where they overlap.
      {"{}", R"(["com.example.Mail","com.example.Notes"])", 0, "", 16, 8, painted({kMail, kNotes})},
      // The helper runs as the server's own process; granting it shows nothing.
      {"{}", R"(["com.example.Helper"])", 0, "", 16, 8, painted({})},
      {"{}", R"(["com.example.Helper","com.example.Mail","com.example.Gone"])", 0, "", 16, 8,
       painted({kMail})},
  });
}

TEST(CaptureServe, ScalesToMaxSide) {
  run_steps({
      {"{}", "[]", 16, "", 16, 8, black(128)},
      {"{}", "[]", 100, "", 16, 8, black(128)},
      {"{}", "[]", 5, "", 5, 3, black(15)},
      {"{}", "[]", 1, "", 1, 1, black(1)},
      // Mail fills 24 of the 64 pixels of the left block: 24 × 200 / 64 = 75,
      // 24 × 100 / 64 = 37.5 truncated, 24 × 64 / 64 = 24.
      {"{}", R"(["com.example.Mail"])", 2, "", 2, 1, std::string("\x4b\x25\x18\xff\0\0\0\xff", 8)},
  });
}

TEST(CaptureServe, ConvertsWhatTheSystemDelivers) {
  run_steps({
      {R"({"rowPadding": 12})", R"(["com.example.Mail"])", 0, "", 16, 8, painted({kMail})},
      {R"({"rowPadding": 4})", R"(["com.example.Notes","com.example.Mail"])", 0, "", 16, 8,
       painted({kMail, kNotes})},
  });
}

TEST(CaptureServe, AnswersEachFailureText) {
  const std::string mail = R"(["com.example.Mail"])";
  run_steps({
      {R"({"content": "Screen recording is not allowed"})", "[]", 0,
       "Screen recording is not allowed", 0, 0, ""},
      {R"({"content": "nothing"})", "[]", 0, "the system gave no reason", 0, 0, ""},
      {R"({"displays": [2, 3]})", "[]", 0, "the main display is not available to capture", 0, 0,
       ""},
      {R"({"image": "The user declined"})", mail, 0, "The user declined", 0, 0, ""},
      {R"({"image": "nothing"})", mail, 0, "the system gave no reason", 0, 0, ""},
      {R"({"bitsPerPixel": 24})", mail, 0, "the capture does not use 32 bits per pixel", 0, 0, ""},
      {R"({"shortBy": 1})", mail, 0, "the capture is shorter than its size", 0, 0, ""},
      // The last row's padding counts towards the length the data must have.
      {R"({"rowPadding": 12, "shortBy": 1})", mail, 0, "the capture is shorter than its size", 0, 0,
       ""},
      // Without a granted application no screenshot is asked for, so the
      // screenshot's failures cannot happen.
      {R"({"image": "The user declined", "bitsPerPixel": 24})", "[]", 0, "", 16, 8, painted({})},
  });
}

// Four terabytes of pixels: neither the black image nor a screenshot is
// made, the capture fails, and the server goes on to the next request.
TEST(CaptureServe, AnImageNoAnswerCanCarryIsAFailure) {
  const std::string too_large = "the screen image is too large";
  run_steps(
      {
          {"{}", "[]", 0, too_large, 0, 0, ""},
          {"{}", R"(["com.example.Mail"])", 1000, too_large, 0, 0, ""},
      },
      R"({"width": 1000000, "height": 1000000, "pixelWidth": 1000000})");
}

TEST(CaptureServe, ReportsTheScreenInPointsAndTheImageInPixels) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, capture_scene(R"({"x": -100.5, "y": 20, "width": 6, "height": 3.5,
                                     "pixelWidth": 12})",
                                    "{}"));
  ServerProcess process({kServeArgs, scene});
  process.send(R"({"id":1,"op":"capture","maxSide":0})"
               "\n");
  const std::optional<Frame> frame = process.read_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->json,
            success(1, 12, 7, R"("screen":{"height":3.5,"width":6.0,"x":-100.5,"y":20.0})"));
  EXPECT_EQ(frame->payload, black(84));
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

TEST(CaptureServe, GivesUpOnASilentSystemAndGoesOn) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, capture_scene(kDisplay, R"({"content": "silent"})"));
  ServerProcess process({kServeArgs, scene});
  process.send(R"({"id":1,"op":"capture","maxSide":0})"
               "\n"
               R"({"id":2,"op":"owner","owner":"agent"})"
               "\n");
  EXPECT_EQ(process.read_json(), failure(1, "the screen capture did not answer"));
  EXPECT_EQ(process.read_json(), R"({"id":2,"ok":true})");
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

}  // namespace
}  // namespace kestrum::computer::testing
